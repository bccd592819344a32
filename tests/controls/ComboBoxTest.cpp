#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/ComboBox.h"
#include "controls/Form.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

class ComboBoxTest : public ::testing::Test {
 protected:
  ComboBoxTest() : combo(form.Add<ComboBox>("cboStatus")) {
    combo.AddItem("Unassign");
    combo.AddItem("Void");
    combo.AddItem("Lost");
    combo.Change.Connect([this] { events.push_back("change " + combo.Text()); });
    combo.Click.Connect([this] { events.push_back("click " + std::to_string(combo.ListIndex())); });
  }

  Form form{"frmUnAssignForms"};
  ComboBox& combo;
  std::vector<std::string> events;
};

TEST_F(ComboBoxTest, ChoosingAnItemChangesTheTextThenClicksUnlessDisabled) {
  combo.SetEnabled(false);
  EXPECT_FALSE(combo.ChooseItem(0));
  EXPECT_FALSE(combo.TypeKey('a'));
  EXPECT_TRUE(events.empty());
  combo.SetListIndex(0);  // code still can
  EXPECT_EQ(combo.Text(), "Unassign");
  combo.SetEnabled(true);
  events.clear();
  EXPECT_TRUE(combo.ChooseItem(1));
  EXPECT_EQ(combo.Text(), "Void");
  EXPECT_EQ(events, (std::vector<std::string>{"change Void", "click 1"}));
  // The same item again is no new choice.
  EXPECT_FALSE(combo.ChooseItem(1));
  EXPECT_EQ(events.size(), 2U);
}

TEST_F(ComboBoxTest, FreeTextIsKeptAndTheListIndexFollowsAnExactMatch) {
  combo.SetText("Activate");
  EXPECT_EQ(combo.ListIndex(), -1);
  combo.SetText("lost");
  EXPECT_EQ(combo.ListIndex(), 2);
  EXPECT_EQ(combo.Text(), "lost");
  EXPECT_EQ(events, (std::vector<std::string>{"change Activate", "change lost"}));
}

TEST_F(ComboBoxTest, TypingGoesThroughKeyPressAndSelectsAMatchingItem) {
  combo.KeyPress.Connect([](int& code) {
    if (code == '!') code = 0;
  });
  combo.TypeText("Vo!id");
  EXPECT_EQ(combo.Text(), "Void");
  EXPECT_EQ(combo.ListIndex(), 1);
  EXPECT_EQ(events.back(), "change Void");
}

TEST_F(ComboBoxTest, ListIndexMinusOneEmptiesTheTextWithoutAClickAndTheListKeepsTheChoice) {
  combo.SetListIndex(0);
  events.clear();
  combo.SetListIndex(-1);
  EXPECT_EQ(combo.Text(), "");
  EXPECT_EQ(events, (std::vector<std::string>{"change "}));

  combo.SetListIndex(1);  // Void
  combo.AddItem("Activate", 0);
  EXPECT_EQ(combo.ListIndex(), 2);
  EXPECT_EQ(combo.List(combo.ListIndex()), "Void");
  combo.RemoveItem(0);
  EXPECT_EQ(combo.ListIndex(), 1);
  combo.RemoveItem(1);
  EXPECT_EQ(combo.ListIndex(), -1);
  EXPECT_EQ(combo.Text(), "Void");  // the text stays; only the list lost the item
  combo.Clear();
  EXPECT_EQ(combo.ListCount(), 0);
  EXPECT_EQ(combo.ListIndex(), -1);
  EXPECT_EQ(combo.Text(), "");
}

TEST_F(ComboBoxTest, BadIndexesAreClearErrors) {
  EXPECT_THROW(combo.SetListIndex(3), PlatformError);
  EXPECT_THROW(combo.SetListIndex(-2), PlatformError);
  EXPECT_THROW(combo.List(5), PlatformError);
  EXPECT_THROW(combo.AddItem("x", 7), PlatformError);
  try {
    combo.RemoveItem(9);
    FAIL() << "no error";
  } catch (const PlatformError& e) {
    EXPECT_NE(e.Description().find("cboStatus"), std::string::npos) << e.Description();
  }
}

}  // namespace
}  // namespace fm
