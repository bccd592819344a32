#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "DemoDatabaseFixture.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"

namespace fm {
namespace {

using ::testing::HasSubstr;

class LocalDatabaseTest : public testing::DemoDatabaseFixture {
 protected:
  // The description of the PlatformError that running `sql` throws; fails the test when
  // nothing or something else is thrown.
  std::string ErrorOf(const std::string& sql) {
    try {
      Db().Query(sql);
    } catch (const PlatformError& error) {
      EXPECT_EQ(error.Number(), PlatformError::kDatabase) << error.Description();
      return error.Description();
    }
    ADD_FAILURE() << "no error for: " << sql;
    return {};
  }

  long Count(const std::string& sql) { return Db().Query(sql)->RecordCount(); }
};

TEST_F(LocalDatabaseTest, OpenBuildsAMissingFileAndItsFoldersAndLeavesNoTemporaryFile) {
  const auto file = Folder() / "site" / "data" / "local.db";
  auto db = LocalDatabase::Open(file);

  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(db->File(), file);
  int entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(file.parent_path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1) << "only the database itself stays in the folder";
  EXPECT_EQ(db->Query("SELECT * FROM TROOP WHERE REGION = 'NORTH'")->RecordCount(), 6);
}

TEST_F(LocalDatabaseTest, OpenKeepsAnExistingFileAndCreateDemoReplacesIt) {
  Alter("DELETE FROM MVE061TB WHERE INSP_ID = 1001");
  EXPECT_EQ(Count("SELECT * FROM MVE061TB WHERE INSP_ID = 1001"), 0);
  LocalDatabase::CreateDemo(DatabaseFile());
  EXPECT_EQ(LocalDatabase::Open(DatabaseFile())
                ->Query("SELECT * FROM MVE061TB WHERE REGION = 'NORTH'")
                ->RecordCount(),
            160);
}

TEST_F(LocalDatabaseTest, OpenRefusesAFileItCannotUseSayingWhy) {
  EXPECT_THROW(LocalDatabase::Open({}), PlatformError);
  const auto refusal = [&] {
    try {
      LocalDatabase::Open(DatabaseFile());
    } catch (const PlatformError& error) {
      return error.Description();
    }
    return std::string("opened");
  };
  Alter("PRAGMA user_version = 97");
  EXPECT_THAT(refusal(), HasSubstr("schema version 97"));
  EXPECT_THAT(refusal(), HasSubstr("delete the file"));
  std::ofstream(DatabaseFile()) << "REGION,INSP_ID\nNORTH,1001\n";
  EXPECT_THAT(refusal(), HasSubstr("not a database"));
  EXPECT_THAT(refusal(), HasSubstr(DatabaseFile().string()));
}

TEST_F(LocalDatabaseTest, EveryStatementThatWritesOrChangesTheConnectionIsRefused) {
  const long officers = Count("SELECT * FROM MVE061TB");
  for (const char* sql : {
           "INSERT INTO MVE061TB (REGION, INSP_ID, INSP_NME_LST) VALUES ('NORTH', 9999, 'X')",
           "UPDATE RVO_CODE SET END_DT = NULL",
           "DELETE FROM MVE061TB",
           "DROP TABLE TROOP",
           "CREATE TEMP TABLE SCRATCH (A)",
           "ATTACH DATABASE ':memory:' AS OTHER",
           "PRAGMA user_version = 3",
           "BEGIN",
           "WITH doomed AS (SELECT 1) DELETE FROM TROOP",
       }) {
    EXPECT_THAT(ErrorOf(sql), HasSubstr("read-only")) << sql;
  }
  EXPECT_THAT(ErrorOf("DELETE FROM TROOP"), HasSubstr("refused: DELETE"));
  EXPECT_EQ(Count("SELECT * FROM MVE061TB"), officers);
  EXPECT_EQ(Db().PreparedStatementCount(), 1u) << "refused statements are not kept";
}

TEST_F(LocalDatabaseTest, MalformedTextsAreRefusedInTheDatabasesWords) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT 1; SELECT 2", "more than one statement"},
      {"SELECT 1; DELETE FROM TROOP", "more than one statement"},
      {"", "no statement"},
      {"  ; -- nothing\n", "no statement"},
      {"Select * Form RVO_CODE Where REGION='NORTH'", "syntax error"},
      // the message quotes the statement
      {"Select * Form RVO_CODE Where REGION='NORTH'", "Select * Form RVO_CODE"},
      {"Select * From MVE061TBX Where REGION='NORTH'", "no such table: MVE061TBX"},
      {"Select * From MVE061TB Where REGON='NORTH'", "no such column: REGON"},
      // the screen writes a value between quotes without doubling a quote inside it
      {"SELECT CD_TBL_DES FROM RVO_CODE WHERE CD_TBL_CD = 'O'' ", "[SQL:"},
  };
  for (const auto& [sql, says] : cases) EXPECT_THAT(ErrorOf(sql), HasSubstr(says)) << sql;
  // Trailing separators and comments are no second statement.
  EXPECT_EQ(Count("SELECT 1;;  -- the one\n/* and only */ "), 1);
}

TEST_F(LocalDatabaseTest, ColumnTypesFollowTheDeclarationsOrTheFirstRow) {
  Alter(
      "CREATE TABLE EXTRA (N NUMERIC, D DOUBLE PRECISION, R REAL, B BIGINT, V VARCHAR(12));"
      "INSERT INTO EXTRA VALUES (1.5, 2, 3.25, 4, 'five');");
  auto rs = Db().Query("SELECT N, D, R, B, V, 1 + 1 AS SUM, 0.5 AS HALF, 'x' AS T FROM EXTRA");
  const FieldType expected[] = {FieldType::Double,  FieldType::Double, FieldType::Double,
                                FieldType::Integer, FieldType::Text,   FieldType::Integer,
                                FieldType::Double,  FieldType::Text};
  ASSERT_EQ(rs->Fields().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(rs->Fields()[i].type, expected[i]) << rs->Fields()[i].name;
  }
  EXPECT_EQ(rs->Fields()[4].size, 12);
  EXPECT_EQ(rs->GetValue("D"), Value(2.0));
  EXPECT_EQ(rs->GetValue("SUM"), Value(2));
  EXPECT_EQ(rs->GetValue("V"), Value("five"));
}

TEST_F(LocalDatabaseTest, AStoredValueThatDoesNotFitItsColumnIsAClearError) {
  Alter("CREATE TABLE EXTRA (B BIGINT); INSERT INTO EXTRA VALUES (7), ('seven');");
  const auto message = ErrorOf("SELECT B FROM EXTRA");
  EXPECT_THAT(message, HasSubstr("Column B of row 2"));
  EXPECT_THAT(message, HasSubstr("SELECT B FROM EXTRA"));
}

TEST_F(LocalDatabaseTest, UcaseUpperCasesTextsAndKeepsNull) {
  auto rs = Db().Query("SELECT UCASE(' Void x9 ') AS A, UCASE(NULL) AS B, UCASE(12) AS C");
  EXPECT_EQ(rs->GetValue("A"), Value(" VOID X9 "));
  EXPECT_TRUE(rs->GetValue("B").IsNull());
  EXPECT_EQ(rs->GetValue("C"), Value("12"));
  EXPECT_THAT(ErrorOf("SELECT UCASE('a', 'b')"), HasSubstr("UCASE"));
}

TEST_F(LocalDatabaseTest, BoundValuesKeepTheirTypes) {
  const std::string sql = "SELECT INSP_NME_LST FROM MVE061TB WHERE REGION = ? AND INSP_ID = ?";
  auto rs = Db().Query(sql, {Value("NORTH"), Value(1004)});
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->GetValue("INSP_NME_LST"), Value("Lee"));
  EXPECT_EQ(Db().Query(sql, {Value("SOUTH"), Value(1004)})->RecordCount(), 0)
      << "bindings of an earlier run must not stick";
  EXPECT_EQ(Db().Query(sql, {Value(), Value(1004)})->RecordCount(), 0);
  EXPECT_EQ(Db().PreparedStatementCount(), 1u);
}

TEST_F(LocalDatabaseTest, AWrongNumberOfBoundValuesIsRefusedAndTheStatementStaysUsable) {
  const std::string sql = "SELECT * FROM TROOP WHERE REGION = ?";
  try {
    Db().Query(sql, {Value("NORTH"), Value("A")});
    FAIL() << "two values for one parameter";
  } catch (const PlatformError& error) {
    EXPECT_THAT(error.Description(), HasSubstr("takes 1 values, 2 were given"));
  }
  EXPECT_THROW(Db().Query(sql), PlatformError);
  EXPECT_EQ(Db().Query(sql, {Value("SOUTH")})->RecordCount(), 2);
}

TEST_F(LocalDatabaseTest, EachDistinctTextIsPreparedOnceAndRunAfreshEachTime) {
  const std::string sql = "SELECT * FROM TRP_DIST WHERE REGION = 'NORTH' AND TRP_ID = 'D'";
  auto first = Db().Query(sql);
  auto second = Db().Query(sql);
  EXPECT_EQ(Db().PreparedStatementCount(), 1u);
  EXPECT_EQ(first->RecordCount(), 3);
  EXPECT_EQ(second->RecordCount(), 3);
  EXPECT_NE(first.get(), second.get()) << "each run answers a record set of its own";
  first->MoveNext();
  EXPECT_EQ(second->GetValue("TRP_DIST_ID"), Value("1")) << "cursors are independent";

  Db().Query(sql + " ");
  EXPECT_EQ(Db().PreparedStatementCount(), 2u) << "the cache is keyed by the exact text";
}

TEST_F(LocalDatabaseTest, TheStatementCacheIsBoundedAndPreparesAnEvictedTextAgain) {
  for (int n = 0; n < 300; ++n) Db().Query("SELECT " + std::to_string(n) + " AS N");
  EXPECT_EQ(Db().PreparedStatementCount(), 300u);
  // The latest texts are still cached; the earliest was evicted and is prepared again.
  Db().Query("SELECT 299 AS N");
  EXPECT_EQ(Db().PreparedStatementCount(), 300u);
  auto rs = Db().Query("SELECT 0 AS N");
  EXPECT_EQ(Db().PreparedStatementCount(), 301u);
  EXPECT_EQ(rs->GetValue("N"), Value(0));
}

}  // namespace
}  // namespace fm
