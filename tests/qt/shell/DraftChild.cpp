// Not a test: the desktop that the draft test kills. It opens the shell on the data folder
// given, with its draft file there, enters three new ranges in New Forms as a clerk would,
// waits until the draft holds them, says "READY" on standard output and then goes on
// running until it is killed.
//
//   qt_draft_child DATA_FOLDER

#include <QApplication>
#include <QThread>
#include <filesystem>
#include <iostream>

#include "QtTestSupport.h"
#include "ShellDriver.h"
#include "platform/Recordset.h"
#include "shell/DraftFile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qt_draft_child DATA_FOLDER\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  try {
    const std::filesystem::path draft = folder / "new-forms-draft.json";
    fm::testing::ShellDriver clerk({folder, {}, draft});
    clerk.Open();
    fm::testing::ProcessEvents();  // the shell looks for a draft left behind: there is none
    clerk.Click("optButton(1)");
    clerk.AddRange("a1", "Wrecker Decals", "9990001", "9990010");
    clerk.AddRange("b2", "Wrecker Decals", "9990011", "9990020");
    clerk.AddRange("c3", "Wrecker Decals", "9990021", "9990030");
    const bool kept = fm::testing::WaitUntil([&] {
      const auto rows = fm::shell::DraftFile(draft).Read();
      return rows && rows->RecordCount() == 3;
    });
    if (!kept) {
      std::cerr << "qt_draft_child: the draft does not hold the three ranges\n";
      return 1;
    }
    std::cout << "READY" << std::endl;
    for (;;) {
      QApplication::processEvents();
      QThread::msleep(20);
    }
  } catch (const std::exception& e) {
    std::cerr << "qt_draft_child: " << e.what() << '\n';
    return 1;
  }
}
