// The local database's answer cache: a repeated read is answered from the cache only while
// the file is unchanged, and what a caller does with its rows reaches no one else.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "DemoDatabaseFixture.h"
#include "platform/LocalDatabase.h"
#include "platform/Recordset.h"

namespace fm {
namespace {

using Rows = std::vector<std::vector<Value>>;

Rows VisibleRows(const Recordset& rs) {
  Rows rows;
  for (long r = 0; r < rs.RecordCount(); ++r) {
    auto& row = rows.emplace_back();
    for (int c = 0; c < rs.FieldCount(); ++c) row.push_back(rs.ValueAt(r, c));
  }
  return rows;
}

// A writable connection of another program, kept open across the reads.
class Writer {
 public:
  Writer(const std::filesystem::path& file, const char* journalMode) {
    EXPECT_EQ(sqlite3_open(file.c_str(), &mDb), SQLITE_OK);
    Run(std::string("PRAGMA journal_mode = ") + journalMode);
  }
  ~Writer() { sqlite3_close(mDb); }
  void Run(const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(mDb, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "") << " [" << sql << "]";
    sqlite3_free(error);
  }

 private:
  sqlite3* mDb = nullptr;
};

unsigned SeedForThisRun() {
  const char* text = std::getenv("FM_TEST_SEED");
  return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 20240617u;
}

class AnswerCacheTest : public testing::DemoDatabaseFixture,
                        public ::testing::WithParamInterface<const char*> {};

// Random reads, writes by another connection and edits of the answers, checked read by read
// against a connection without the cache.
TEST_P(AnswerCacheTest, EveryReadAnswersWhatTheFileHoldsNowWhateverCallersDoWithTheirRows) {
  const unsigned seed = SeedForThisRun();
  SCOPED_TRACE("seed " + std::to_string(seed) + " (FM_TEST_SEED repeats a run)");
  std::mt19937 random(seed);
  LocalDatabase::CreateDemo(DatabaseFile());
  Writer writer(DatabaseFile(), GetParam());
  auto cached = LocalDatabase::Open(DatabaseFile());
  LocalDatabase::Options off;
  off.answerCacheCells = 0;
  auto reference = LocalDatabase::Open(DatabaseFile(), off);

  const std::vector<std::string> statements = {
      "SELECT CD_TBL_CD, CD_TBL_DES, END_DT FROM RVO_CODE WHERE REGION = 'NORTH' AND "
      "CD_TBL_ID = 'FORMTYPE' ORDER BY CD_TBL_CD, EFCTV_DT",
      "SELECT INSP_ID, INSP_NME_LST, INSP_NME_FRST FROM MVE061TB WHERE REGION = ? AND "
      "INSP_ID < ? ORDER BY INSP_ID",
      "SELECT CD_TBL_DES FROM RVO_CODE WHERE REGION = 'NORTH' AND (EFCTV_DT <= date()) AND "
      "((END_DT >= date()) or (END_DT Is Null)) AND CD_TBL_ID = 'DELISTCD' AND CD_TBL_CD = 'L'",
  };
  // Writes of the agency's refresh: {} takes a number that makes each write a change.
  const char* const writes[] = {
      "UPDATE RVO_CODE SET CD_TBL_DES = 'Wording {0}' WHERE REGION = 'NORTH' AND "
      "CD_TBL_ID = 'FORMTYPE' AND CD_TBL_CD = '{1}'",
      "UPDATE MVE061TB SET INSP_NME_LST = 'Renamed{0}' WHERE INSP_ID = {2}",
      "UPDATE RVO_CODE SET CD_TBL_DES = 'Lost {0}' WHERE REGION = 'NORTH' AND "
      "CD_TBL_ID = 'DELISTCD' AND CD_TBL_CD = 'L'",
      "DELETE FROM MVE061TB WHERE INSP_ID = {2}"};
  const char* const codes[] = {"C", "M", "V", "K"};
  for (int step = 0; step < 400; ++step) {
    if (random() % 10 < 3) {
      writer.Run(fmt::format(fmt::runtime(writes[random() % std::size(writes)]), step,
                             codes[random() % 4], 1001 + random() % 20));
      continue;
    }
    const std::size_t which = random() % statements.size();
    std::vector<Value> params;
    if (which == 1) params = {Value("NORTH"), Value(static_cast<int>(1005 + random() % 10))};
    auto answer = cached->Query(statements[which], params);
    ASSERT_EQ(VisibleRows(*answer), VisibleRows(*reference->Query(statements[which], params)))
        << "step " << step << ": " << statements[which];
    // The caller then does as it likes with its rows.
    if (answer->RecordCount() == 0) continue;
    switch (random() % 4) {
      case 0:
        answer->MoveLast();
        answer->SetValue(answer->FieldCount() - 1, "edited");
        break;
      case 1:
        answer->AddNew();
        break;
      case 2:
        answer->Delete();
        break;
      default:
        answer->SetFilter(answer->Fields()[0].name + " = NULL");
        break;
    }
  }
  EXPECT_GT(cached->CacheHits(), 0u);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, AnswerCacheTest, ::testing::Values("DELETE", "WAL"));

class AnswerCacheFacts : public testing::DemoDatabaseFixture {};

TEST_F(AnswerCacheFacts, AChangeWrittenByAnotherProcessIsSeenByTheNextRead) {
  const std::string sql =
      "SELECT CD_TBL_DES FROM RVO_CODE WHERE REGION = 'NORTH' AND CD_TBL_ID = 'FORMTYPE' AND "
      "CD_TBL_CD = 'M' AND END_DT IS NULL";
  const std::string before = Db().Query(sql)->GetText("CD_TBL_DES");
  EXPECT_EQ(Db().Query(sql)->GetText("CD_TBL_DES"), before);
  EXPECT_EQ(Db().CacheHits(), 1u);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open(DatabaseFile().c_str(), &db);
    if (rc == SQLITE_OK) {
      rc = sqlite3_exec(db,
                        "UPDATE RVO_CODE SET CD_TBL_DES = 'Changed elsewhere' WHERE REGION = "
                        "'NORTH' AND CD_TBL_ID = 'FORMTYPE' AND CD_TBL_CD = 'M'",
                        nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    ::_exit(rc == SQLITE_OK ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process failed";

  EXPECT_EQ(Db().Query(sql)->GetText("CD_TBL_DES"), "Changed elsewhere");
  EXPECT_EQ(Db().CacheHits(), 1u) << "the change made the cached answer stale";
  EXPECT_EQ(Db().Query(sql)->GetText("CD_TBL_DES"), "Changed elsewhere");
  EXPECT_EQ(Db().CacheHits(), 2u);
}

TEST_F(AnswerCacheFacts, AnswersOfTheClockOrOfChanceAreReusedOnlyWhileTheyHold) {
  struct Case {
    const char* sql;
    bool reused;
  };
  const Case cases[] = {
      {"SELECT COUNT(*) AS N FROM TROOP WHERE REGION = 'NORTH'", true},
      {"SELECT UCASE(TRP_NME) AS U FROM TROOP", true},
      // Today's date holds for the second it was read in.
      {"SELECT date() AS D", true},
      {"SELECT CURRENT_DATE AS D", true},
      {"SELECT COUNT(*) AS N FROM RVO_CODE WHERE END_DT >= DATE('now')", true},
      {"SELECT datetime('now') AS T", false},
      {"SELECT time() AS T", false},
      {"SELECT julianday('now') AS J", false},
      {"SELECT strftime('%s', 'now') AS S", false},
      {"SELECT CURRENT_TIMESTAMP AS T", false},
      {"SELECT random() AS R", false},
      {"SELECT TRP_ID FROM TROOP ORDER BY RANDOM()", false},
  };
  for (const Case& c : cases) {
    const std::size_t before = Db().CacheHits();
    // Three reads: two of them fall within one second of the clock.
    for (int i = 0; i < 3; ++i) Db().Query(c.sql);
    if (c.reused) {
      EXPECT_GT(Db().CacheHits(), before) << c.sql;
    } else {
      EXPECT_EQ(Db().CacheHits(), before) << c.sql;
    }
  }
}

TEST_F(AnswerCacheFacts, TheCacheHoldsAtMostItsBudgetOfValuesAndOneAnswerPerText) {
  LocalDatabase::Options options;
  options.answerCacheCells = 200;
  auto db = LocalDatabase::Open(DatabaseFile(), options);
  const std::string officers = "SELECT * FROM MVE061TB WHERE REGION = 'NORTH'";
  db->Query(officers);
  db->Query(officers);
  EXPECT_EQ(db->CacheHits(), 0u) << "1,760 values do not fit 200";
  EXPECT_EQ(db->CachedCells(), 0u);

  for (int n = 0; n < 150; ++n) db->Query("SELECT " + std::to_string(n) + " AS N, 'x' AS X");
  EXPECT_EQ(db->CachedCells(), 200u);
  db->Query("SELECT 149 AS N, 'x' AS X");
  EXPECT_EQ(db->CacheHits(), 1u) << "the latest answers are kept";
  EXPECT_EQ(db->Query("SELECT 0 AS N, 'x' AS X")->GetValue("N"), Value(0));
  EXPECT_EQ(db->CacheHits(), 1u) << "the earliest gave way";

  const std::string byRegion = "SELECT COUNT(*) AS N FROM TROOP WHERE REGION = ?";
  EXPECT_EQ(db->Query(byRegion, {Value("NORTH")})->GetValue("N"), Value(6));
  EXPECT_EQ(db->Query(byRegion, {Value("SOUTH")})->GetValue("N"), Value(2));
  EXPECT_EQ(db->Query(byRegion, {Value("SOUTH")})->GetValue("N"), Value(2));
  EXPECT_EQ(db->CacheHits(), 2u) << "an answer is reused for the same values only";
}

}  // namespace
}  // namespace fm
