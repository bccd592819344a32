#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/Form.h"
#include "controls/Frame.h"
#include "controls/TextBox.h"
#include "base/Text.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

constexpr int kBackspace = 8;
constexpr int kEnter = 13;

class TextBoxTest : public ::testing::Test {
 protected:
  TextBoxTest() : box(form.Add<TextBox>("txtBox", 0)) {
    box.Change.Connect([this] { changes.push_back(box.Text()); });
  }

  Form form{"frmTest"};
  TextBox& box;
  std::vector<std::string> changes;  // the text each Change saw
};

TEST_F(TextBoxTest, CodeSetTextRaisesChangeOnceAndNotForTheSameText) {
  box.SetText("A1");
  box.SetText("A1");
  box.SetText("");
  EXPECT_EQ(changes, (std::vector<std::string>{"A1", ""}));
}

TEST_F(TextBoxTest, CodeSetTextLongerThanMaxLengthIsKeptAsGiven) {
  box.SetMaxLength(3);
  box.SetText("ABCDE");
  EXPECT_EQ(box.Text(), "ABCDE");
  // ...but typing cannot make it longer still.
  EXPECT_FALSE(box.TypeKey('F'));
  EXPECT_EQ(box.Text(), "ABCDE");
}

TEST_F(TextBoxTest, TypingRaisesKeyPressBeforeInsertingThenChange) {
  std::vector<std::string> events;
  box.KeyPress.Connect([&](int& code) {
    events.push_back("key " + std::to_string(code) + " text '" + box.Text() + "'");
  });
  box.Change.Connect([&] { events.push_back("change '" + box.Text() + "'"); });
  box.TypeText("ab");
  EXPECT_EQ(events, (std::vector<std::string>{"key 97 text ''", "change 'a'", "key 98 text 'a'",
                                              "change 'ab'"}));
}

TEST_F(TextBoxTest, ZeroedKeyInsertsNothingAndRaisesNoChange) {
  box.KeyPress.Connect([](int& code) {
    if (code == '.') code = 0;
  });
  box.TypeText("1.5");
  EXPECT_EQ(box.Text(), "15");
  EXPECT_EQ(changes, (std::vector<std::string>{"1", "15"}));
}

TEST_F(TextBoxTest, ReplacedKeyInsertsTheReplacement) {
  box.KeyPress.Connect([](int& code) {
    if (code >= 'a' && code <= 'z') code -= 'a' - 'A';
  });
  box.TypeText("b2");
  EXPECT_EQ(box.Text(), "B2");
}

TEST_F(TextBoxTest, EveryHandlerSeesTheCodeThePreviousOneLeft) {
  box.KeyPress.Connect([](int& code) { code = 'x'; });
  int seen = 0;
  box.KeyPress.Connect([&](int& code) { seen = code; });
  box.TypeKey('a');
  EXPECT_EQ(seen, 'x');
  EXPECT_EQ(box.Text(), "x");
}

TEST_F(TextBoxTest, BackspaceRemovesTheCharacterBeforeTheCaret) {
  box.SetText("A12");
  changes.clear();
  box.SetSelStart(2);
  EXPECT_TRUE(box.TypeKey(kBackspace));
  EXPECT_EQ(box.Text(), "A2");
  EXPECT_EQ(box.SelStart(), 1);
  box.SetSelStart(0);
  EXPECT_FALSE(box.TypeKey(kBackspace));  // nothing before the caret
  EXPECT_EQ(changes, (std::vector<std::string>{"A2"}));
}

TEST_F(TextBoxTest, BackspaceGoesThroughKeyPressAndCanBeRefused) {
  box.SetText("AB");
  box.KeyPress.Connect([](int& code) {
    if (code == kBackspace) code = 0;
  });
  box.TypeKey(kBackspace);
  EXPECT_EQ(box.Text(), "AB");
}

TEST_F(TextBoxTest, BackspaceDeletesTheSelection) {
  box.SetText("ABCD");
  box.SetSelection(1, 2);
  box.TypeKey(kBackspace);
  EXPECT_EQ(box.Text(), "AD");
}

TEST_F(TextBoxTest, TypingBeyondMaxLengthIsRefusedAfterKeyPress) {
  box.SetMaxLength(3);
  int keyPresses = 0;
  box.KeyPress.Connect([&](int&) { ++keyPresses; });
  box.TypeText("12345");
  EXPECT_EQ(box.Text(), "123");
  EXPECT_EQ(keyPresses, 5);
  EXPECT_EQ(changes.size(), 3U);
}

TEST_F(TextBoxTest, AtMaxLengthASelectionCanStillBeReplaced) {
  box.SetMaxLength(3);
  box.SetText("123");
  box.SetSelection(1, 1);
  EXPECT_TRUE(box.TypeKey('9'));
  EXPECT_EQ(box.Text(), "193");
  EXPECT_EQ(box.SelStart(), 2);
  EXPECT_EQ(box.SelLength(), 0);
}

TEST_F(TextBoxTest, TypingReplacesTheSelectionInTheMiddle) {
  box.SetText("100199");
  box.SetSelection(3, 3);
  box.TypeText("2");
  EXPECT_EQ(box.Text(), "1002");
  box.SelectAll();
  box.TypeText("7");
  EXPECT_EQ(box.Text(), "7");
}

TEST_F(TextBoxTest, CodeSetTextPutsTheCaretAtTheEnd) {
  box.SetText("AB");
  box.TypeText("C");
  EXPECT_EQ(box.Text(), "ABC");
}

TEST_F(TextBoxTest, MaxLengthCountsCharactersNotBytes) {
  box.SetMaxLength(2);
  box.TypeKey(0xE9);  // é, two bytes in UTF-8
  box.TypeKey(0xE8);
  box.TypeKey('x');
  EXPECT_EQ(box.Text(), "\xC3\xA9\xC3\xA8");
  box.TypeKey(kBackspace);
  EXPECT_EQ(box.Text(), "\xC3\xA9");
}

TEST_F(TextBoxTest, EnterInsertsALineBreakOnlyInAMultiLineBox) {
  box.TypeText("a\nb");
  EXPECT_EQ(box.Text(), "ab");
  box.SetMultiLine(true);
  box.SetText("");
  box.TypeText("a\nb");
  EXPECT_EQ(box.Text(), "a\r\nb");
}

TEST_F(TextBoxTest, ControlCodesOtherThanBackspaceAndEnterInsertNothing) {
  box.SetText("x");
  changes.clear();
  box.TypeKey(27);  // Escape
  box.TypeKey(3);   // Ctrl+C
  box.TypeKey(127);
  EXPECT_EQ(box.Text(), "x");
  EXPECT_TRUE(changes.empty());
}

TEST_F(TextBoxTest, DisabledHiddenOrFramedOutBoxesTakeNoInput) {
  int keyPresses = 0;
  box.KeyPress.Connect([&](int&) { ++keyPresses; });
  box.SetEnabled(false);
  EXPECT_FALSE(box.TypeKey('a'));
  box.SetEnabled(true);
  box.SetVisible(false);
  EXPECT_FALSE(box.TypeKey('a'));

  auto& frame = form.Add<Frame>("fraEntry");
  auto& inner = form.Add<TextBox>("txtInner", -1, &frame);
  frame.SetEnabled(false);
  EXPECT_FALSE(inner.TypeKey('a'));
  EXPECT_FALSE(inner.Paste("abc"));
  EXPECT_EQ(keyPresses, 0);
  EXPECT_EQ(inner.Text(), "");
}

TEST_F(TextBoxTest, LockedBoxRaisesKeyPressButKeepsItsText) {
  box.SetText("100");
  box.SetLocked(true);
  int keyPresses = 0;
  box.KeyPress.Connect([&](int&) { ++keyPresses; });
  box.TypeText("5");
  box.TypeDelete();
  EXPECT_EQ(keyPresses, 1);
  EXPECT_EQ(box.Text(), "100");
}

TEST_F(TextBoxTest, HandlerDisablingTheBoxStopsTheKey) {
  box.KeyPress.Connect([this](int&) { box.SetEnabled(false); });
  EXPECT_FALSE(box.TypeKey('a'));
  EXPECT_EQ(box.Text(), "");
}

TEST_F(TextBoxTest, PasteSkipsKeyPressAndIsCutToMaxLengthAndFirstLine) {
  int keyPresses = 0;
  box.KeyPress.Connect([&](int&) { ++keyPresses; });
  box.SetMaxLength(5);
  box.SetText("12");
  changes.clear();
  EXPECT_TRUE(box.Paste("345\r\n678"));
  EXPECT_EQ(box.Text(), "12345");
  EXPECT_EQ(keyPresses, 0);
  EXPECT_EQ(changes.size(), 1U);
  box.SetText("");
  box.Paste("abcdefgh");
  EXPECT_EQ(box.Text(), "abcde");
}

TEST_F(TextBoxTest, DeleteKeyRemovesTheCharacterAfterTheCaret) {
  box.SetText("ABC");
  box.SetSelStart(1);
  EXPECT_TRUE(box.TypeDelete());
  EXPECT_EQ(box.Text(), "AC");
  box.SetSelStart(2);
  EXPECT_FALSE(box.TypeDelete());
}

TEST_F(TextBoxTest, SelectionIsClampedToTheTextAndNegativeValuesAreRefused) {
  box.SetText("ABC");
  box.SetSelection(2, 10);
  EXPECT_EQ(box.SelLength(), 1);
  EXPECT_EQ(box.SelText(), "C");
  box.SetSelStart(10);
  EXPECT_EQ(box.SelStart(), 3);
  EXPECT_THROW(box.SetSelStart(-1), PlatformError);
  EXPECT_THROW(box.SetMaxLength(-1), PlatformError);
}

TEST_F(TextBoxTest, ChangeHandlerSettingTheTextAgainIsSeenOnce) {
  // A handler that normalises the text (upper case) raises one further Change, then stops.
  box.Change.Connect([this] { box.SetText(text::ToUpper(box.Text())); });
  box.TypeKey('a');
  EXPECT_EQ(box.Text(), "A");
  EXPECT_EQ(changes, (std::vector<std::string>{"a", "A"}));
}

}  // namespace
}  // namespace fm
