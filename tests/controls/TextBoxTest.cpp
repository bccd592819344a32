#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Text.h"
#include "controls/Form.h"
#include "controls/Frame.h"
#include "controls/TextBox.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

constexpr int kBackspace = 8;

class TextBoxTest : public ::testing::Test {
 protected:
  TextBoxTest() : box(form.Add<TextBox>("txtBox", 0)) {
    box.Change.Connect([this] { changes.push_back(box.Text()); });
  }

  Form form{"frmTest"};
  TextBox& box;
  std::vector<std::string> changes;  // the text each Change saw
};

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

TEST_F(TextBoxTest, KeyPressHandlersRefuseOrReplaceKeysEachSeeingWhatTheLastOneLeft) {
  box.KeyPress.Connect([](int& code) {
    if (code == '.' || code == kBackspace) code = 0;
    if (code >= 'a' && code <= 'z') code -= 'a' - 'A';
  });
  int seen = 0;
  box.KeyPress.Connect([&](int& code) { seen = code; });
  box.TypeText("1.5b");
  EXPECT_EQ(box.Text(), "15B");
  EXPECT_EQ(seen, 'B');
  // A refused key inserts nothing and raises no Change; Backspace goes the same way.
  EXPECT_EQ(changes, (std::vector<std::string>{"1", "15", "15B"}));
  box.TypeKey(kBackspace);
  EXPECT_EQ(box.Text(), "15B");
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

  // A KeyPress handler that disables the box stops the key.
  auto& other = form.Add<TextBox>("txtOther");
  other.KeyPress.Connect([&](int&) { other.SetEnabled(false); });
  EXPECT_FALSE(other.TypeKey('a'));
  EXPECT_EQ(other.Text(), "");
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

TEST_F(TextBoxTest, DeleteTakesTheCharacterAfterTheCaretAndTheSelectionIsClamped) {
  box.SetText("ABCD");
  box.SetSelStart(1);
  EXPECT_TRUE(box.TypeDelete());
  EXPECT_EQ(box.Text(), "ACD");
  box.SetSelStart(3);
  EXPECT_FALSE(box.TypeDelete());
  box.SetSelection(2, 10);
  EXPECT_EQ(box.SelLength(), 1);
  EXPECT_EQ(box.SelText(), "D");
  box.SetSelStart(10);
  EXPECT_EQ(box.SelStart(), 3);
  EXPECT_THROW(box.SetSelStart(-1), PlatformError);
  EXPECT_THROW(box.SetMaxLength(-1), PlatformError);
}

TEST_F(TextBoxTest, ChangeComesOncePerNewTextEvenFromAHandlerSettingTheTextAgain) {
  box.SetText("A1");
  box.SetText("A1");
  box.SetText("");
  EXPECT_EQ(changes, (std::vector<std::string>{"A1", ""}));
  changes.clear();
  // A handler that normalises the text (upper case) raises one further Change, then stops.
  box.Change.Connect([this] { box.SetText(text::ToUpper(box.Text())); });
  box.TypeKey('a');
  EXPECT_EQ(box.Text(), "A");
  EXPECT_EQ(changes, (std::vector<std::string>{"a", "A"}));
}

TEST_F(TextBoxTest, EnterInsertsALineBreakOnlyInAMultiLineBox) {
  box.TypeText("a\nb");
  EXPECT_EQ(box.Text(), "ab");
  box.SetMultiLine(true);
  box.SetText("");
  box.TypeText("a\nb");
  EXPECT_EQ(box.Text(), "a\r\nb");
}

// --- Editing: what the keys make of the text at the caret

struct EditCase {
  const char* name;
  const char* text;  // set by code first, which puts the caret at the end
  int selStart;      // -1: the caret left where the text put it
  int selLength;     // -1: all selected
  int maxLength;     // 0: none
  bool multiLine;
  const char* keys;  // one key code per character: "\b" Backspace, "\xE9" é
  const char* expected;
  std::size_t changes;
  bool lastKeyTaken;
  int caret;  // -1: not checked
};

class TextBoxEditTest : public TextBoxTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(TextBoxEditTest, KeysEditTheTextAtTheCaret) {
  const EditCase& c = GetParam();
  box.SetMultiLine(c.multiLine);
  box.SetMaxLength(c.maxLength);
  box.SetText(c.text);
  EXPECT_EQ(box.Text(), c.text) << "code may set a text longer than MaxLength";
  if (c.selLength < 0) {
    box.SelectAll();
  } else if (c.selStart >= 0) {
    box.SetSelection(c.selStart, c.selLength);
  }
  changes.clear();
  bool taken = false;
  for (const char* key = c.keys; *key != '\0'; ++key) {
    taken = box.TypeKey(static_cast<unsigned char>(*key));
  }
  EXPECT_EQ(box.Text(), c.expected);
  EXPECT_EQ(changes.size(), c.changes);
  EXPECT_EQ(taken, c.lastKeyTaken);
  EXPECT_EQ(box.SelLength(), 0);
  if (c.caret >= 0) {
    EXPECT_EQ(box.SelStart(), c.caret);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TextBoxEditTest,
    ::testing::Values(
        EditCase{"TypingCannotLengthenATextBeyondMaxLength", "ABCDE", -1, 0, 3, false, "F", "ABCDE",
                 0, false, -1},
        EditCase{"BackspaceRemovesTheCharacterBeforeTheCaret", "A12", 2, 0, 0, false, "\b", "A2", 1,
                 true, 1},
        EditCase{"BackspaceAtTheStartRemovesNothing", "A2", 0, 0, 0, false, "\b", "A2", 0, false,
                 0},
        EditCase{"BackspaceDeletesTheSelection", "ABCD", 1, 2, 0, false, "\b", "AD", 1, true, 1},
        EditCase{"AtMaxLengthASelectionCanStillBeReplaced", "123", 1, 1, 3, false, "9", "193", 1,
                 true, 2},
        EditCase{"TypingReplacesTheSelectionInTheMiddle", "100199", 3, 3, 0, false, "2", "1002", 1,
                 true, 4},
        EditCase{"TypingReplacesAllSelected", "1002", 0, -1, 0, false, "7", "7", 1, true, 1},
        EditCase{"CodeSetTextPutsTheCaretAtTheEnd", "AB", -1, 0, 0, false, "C", "ABC", 1, true, 3},
        EditCase{"MaxLengthCountsCharactersNotBytes", "", -1, 0, 2, false, "\xE9\xE8x",
                 "\xC3\xA9\xC3\xA8", 2, false, -1},
        EditCase{"BackspaceRemovesAWholeCharacter", "\xC3\xA9\xC3\xA8", -1, 0, 2, false, "\b",
                 "\xC3\xA9", 1, true, -1},
        EditCase{"ControlCodesOtherThanBackspaceAndEnterInsertNothing", "x", -1, 0, 0, false,
                 "\x1b\x03\x7f", "x", 0, false, 1}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace fm
