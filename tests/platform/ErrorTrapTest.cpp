#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "platform/ErrorReporter.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"

namespace fm {
namespace {

class ErrorTrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Services::Reset();
    mReporter = std::make_shared<ErrorReporter>(std::filesystem::path{}, false);
    Services::SetErrorReporter(mReporter);
    Services::SetExecutableName("formsmaint-test");
  }
  void TearDown() override { Services::Reset(); }

  std::shared_ptr<ErrorReporter> mReporter;
};

TEST_F(ErrorTrapTest, EarlyExitOrAnyErrorCarryingItsNumberEndsTheBodySilently) {
  bool afterExit = false;
  const bool completed = Trap("Doc.Proc", [&] {
    RaiseEarlyExit();
    afterExit = true;
  });
  EXPECT_FALSE(completed);
  EXPECT_FALSE(afterExit);
  Trap("Doc.Proc", [] { throw PlatformError(kEarlyExitNumber, "no rows"); });
  ReportCurrentException("Doc.Nothing");  // nothing in flight: nothing to report
  EXPECT_TRUE(mReporter->Reports().empty());
}

TEST_F(ErrorTrapTest, FailuresAreReportedWithDescriptionExecutableAndSource) {
  Trap("TARVO_FormsMaint.QueryForms",
       [] { throw PlatformError(PlatformError::kItemNotFound, "Field 'X' not found"); });
  // An inner trap ends only its own procedure.
  bool outerFinished = false;
  EXPECT_TRUE(Trap("Doc.Outer", [&] {
    Trap("frmAddOfficer.Form_Load", [] { throw std::out_of_range("index 7 out of range"); });
    outerFinished = true;
  }));
  EXPECT_TRUE(outerFinished);
  Trap("Doc.Odd", [] { throw 42; });

  const auto reports = mReporter->Reports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].description, "Field 'X' not found");
  EXPECT_EQ(reports[0].source, "TARVO_FormsMaint.QueryForms");
  EXPECT_EQ(reports[1].description, "index 7 out of range");
  EXPECT_EQ(reports[1].source, "frmAddOfficer.Form_Load");
  EXPECT_EQ(reports[2].description, "Unknown error");
  EXPECT_EQ(reports[2].source, "Doc.Odd");
  for (const auto& report : reports) {
    EXPECT_EQ(report.executable, "formsmaint-test");
    EXPECT_FALSE(report.optional.has_value());
    EXPECT_EQ(report.kind, 1);
  }
}

using testing::TempFolder;

std::vector<std::string> Lines(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ErrorReporterTest, WritesOneLogLinePerReportIntoAFolderItCreates) {
  TempFolder folder;
  const auto logFile = folder.Path() / "logs" / "deeper" / "formsmaint.log";
  {
    ErrorReporter reporter(logFile, false);
    reporter.Report("Please Enter a valid Troop/District\r\nYear is required\r\n", "formsmaint",
                    "TARVO_FormsMaint.CheckEdit");
    reporter.Report("second", "formsmaint", "Doc.Other");
  }
  const auto lines = Lines(logFile);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("TARVO_FormsMaint.CheckEdit"), std::string::npos);
  EXPECT_NE(lines[0].find("Please Enter a valid Troop/District"), std::string::npos);
  EXPECT_NE(lines[0].find("Year is required"), std::string::npos);
  EXPECT_NE(lines[0].find("formsmaint"), std::string::npos);
}

TEST(ErrorReporterTest, KeepsOnlyTheLatestReportsOldestFirstFromEveryThread) {
  ErrorReporter reporter({}, false);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&reporter, t] {
      for (int i = 0; i < 200; ++i) reporter.Report(std::to_string(t), "x", "Worker.Run");
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(reporter.Reports().size(), 800u);

  reporter.ClearReports();
  EXPECT_TRUE(reporter.Reports().empty());
  const std::size_t total = ErrorReporter::kMaxKept + 5;
  for (std::size_t i = 0; i < total; ++i) reporter.Report(std::to_string(i), "x", "S.P");
  const auto reports = reporter.Reports();
  ASSERT_EQ(reports.size(), ErrorReporter::kMaxKept);
  EXPECT_EQ(reports.front().description, "5");
  EXPECT_EQ(reports.back().description, std::to_string(total - 1));
}

}  // namespace
}  // namespace fm
