// New ranges not yet saved survive a desktop that dies: the offer of the draft on the next
// start, a draft that cannot be read, and a real desktop process killed outright.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QMessageBox>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ShellTest.h"
#include "controls/DataGrid.h"
#include "controls/Frame.h"
#include "document/TARVO_FormsMaint.h"
#include "qt/shell/ShellWindow.h"

namespace fm::qt {
namespace {

using namespace std::chrono_literals;
using testing::TempFolder;
using testing::WaitUntil;

class DraftShellTest : public testing::ShellTest {
 protected:
  std::filesystem::path DraftPath() const { return folder.Path() / "new-forms-draft.json"; }
  // The shell on the folder, the next message box answered with `button`.
  void OpenAnswering(QMessageBox::StandardButton button) {
    Start({folder.Path(), {}, DraftPath()}).boxes.AnswerNext(button);
    shell->Open();
    ASSERT_TRUE(WaitUntil([&] { return !shell->boxes.answered.empty(); }, 5s));
  }
  void Write(const std::string& text) const {
    std::ofstream out(DraftPath(), std::ios::binary);
    out << text;
  }
  std::vector<std::filesystem::path> SetAside() const {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
      if (entry.path().filename().string().find("new-forms-draft.json.unreadable-") == 0) {
        found.push_back(entry.path());
      }
    }
    return found;
  }

  TempFolder folder;
};

struct Corrupt {
  const char* text;
  const char* reason;
};

TEST_F(DraftShellTest, ADraftThatCannotBeReadIsSaidSoAndSetAsideNotLost) {
  const Corrupt cases[] = {
      {"{\"draft\": \"formsmaint new forms\", \"rows\": [{\"TRP_", "not a draft of new forms"},
      {R"({"draft": "formsmaint new forms", "version": 7, "rows": []})", "another version"},
      {R"({"draft": "formsmaint new forms", "version": 1, "rows": [{"COLOUR": "red"}]})",
       "row 1 has a field COLOUR"},
      {R"({"draft": "formsmaint new forms", "version": 1, "rows": [{}, {"FRM_FORM_NBR": "12x"}]})",
       "row 2, field FRM_FORM_NBR"},
  };
  for (const Corrupt& c : cases) {
    SCOPED_TRACE(c.text);
    Write(c.text);
    ASSERT_NO_FATAL_FAILURE(OpenAnswering(QMessageBox::Ok));
    const std::string& said = shell->boxes.answered.front();
    EXPECT_NE(said.find("could not be restored"), std::string::npos) << said;
    EXPECT_NE(said.find(c.reason), std::string::npos) << said;
    EXPECT_NE(said.find("set aside as"), std::string::npos) << said;
    EXPECT_FALSE(std::filesystem::exists(DraftPath()));
    const auto aside = SetAside();
    ASSERT_EQ(aside.size(), 1u);
    std::ifstream in(aside.front(), std::ios::binary);
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), c.text);
    std::filesystem::remove(aside.front());
    EXPECT_EQ(shell->Document().grdNewForms.RowCount(), 0);
  }
}

// Runs the desktop in a process of its own until it has three ranges in its draft, then
// kills it without warning (SIGKILL: no handler, no clean-up runs).
void RunAndKillADesktopWithThreeNewRanges(const std::filesystem::path& folder) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::execl(FM_DRAFT_CHILD, FM_DRAFT_CHILD, folder.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  std::string said;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (said.find("READY") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    char buffer[256];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n > 0) said.append(buffer, static_cast<std::size_t>(n));
    if (n == 0) break;  // the child ended
    std::this_thread::sleep_for(20ms);
  }
  ::close(out[0]);
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_NE(said.find("READY"), std::string::npos) << "the desktop said: " << said;
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST_F(DraftShellTest, RangesOfADesktopKilledOutrightAreOfferedBackAndGoOnceSaved) {
  RunAndKillADesktopWithThreeNewRanges(folder.Path());
  ASSERT_TRUE(std::filesystem::exists(DraftPath()));

  ASSERT_NO_FATAL_FAILURE(OpenAnswering(QMessageBox::Yes));
  EXPECT_EQ(shell->boxes.answered.front(),
            "3 new ranges from your last session were not saved. Restore them?");

  // Back in New Forms, as Add Forms left them, ready to be saved.
  const TARVO_FormsMaint& d = shell->Document();
  ASSERT_TRUE(WaitUntil([&] { return d.grdNewForms.RowCount() == 3; }, 5s));
  EXPECT_TRUE(d.fraAddForms.Visible());
  const std::vector<std::string> expected = {"A19990001", "B29990011", "C39990021"};
  for (long row = 0; row < 3; ++row) {
    EXPECT_EQ(d.grdNewForms.CellTextAt(row, "TroopDistrict") +
                  d.grdNewForms.CellTextAt(row, "FRM_FORM_NBR"),
              expected[static_cast<std::size_t>(row)]);
    EXPECT_EQ(d.grdNewForms.CellTextAt(row, "FORM_TYP_DESC"), "Wrecker Decals");
  }
  EXPECT_TRUE(shell->Window().ToolbarItem(7)->isEnabled());
  EXPECT_TRUE(std::filesystem::exists(DraftPath()));  // still kept until they are saved

  shell->Window().ToolbarItem(7)->trigger();  // Save
  ASSERT_TRUE(WaitUntil([&] { return d.grdNewForms.RowCount() == 0; }, 60s));
  EXPECT_TRUE(WaitUntil([&] { return !std::filesystem::exists(DraftPath()); }, 5s));
}

}  // namespace
}  // namespace fm::qt
