// Backups of a SQLite inventory taken while saves go on, their restore, the refusals that
// protect a store from a bad restore, and the invariant check the backups are judged by.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RandomSaves.h"
#include "TempFolder.h"
#include "server/store/Backup.h"
#include "server/store/DemoInventory.h"
#include "server/store/InventoryCheck.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqliteConnection.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Runs SQL on the file without the store's settings (no switch to WAL), as an intruder would.
void Execute(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  std::string text = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << text << "\n" << sql;
}

std::vector<std::string> Violations(const fs::path& file) {
  SqliteConnection connection(file, std::chrono::seconds(5));
  return CheckInventory(connection).violations;
}

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<FormRange> AllRanges(const fs::path& file) {
  StoreOptions options;
  options.poolSize = 1;
  std::vector<FormRange> ranges;
  for (const auto& r : OpenStore("sqlite:" + file.string(), options)->FindRanges({})) {
    ranges.push_back(r.range);
  }
  return ranges;
}

class BackupTest : public ::testing::Test {
 protected:
  // The demo inventory in a closed store file.
  fs::path DemoStore(const std::string& name) {
    fs::path file = mDir / name;
    LoadDemoInventory(*OpenStore("sqlite:" + file.string()));
    return file;
  }

  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(mDir)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fm::testing::TempFolder mFolder;
  const fs::path mDir = mFolder.Path();
};

// --- Saves of every kind, one form type per thread -----------------------------------

// Keeps changing the ranges of one form type the way clerks do (the saves of SaveMaker a
// screen would send: splits, assignments, moves, receipts of new numbers); now and then an
// administrator withdraws a form.
class Clerk {
 public:
  Clerk(Store& store, std::string formType, unsigned seed)
      : mStore(store),
        mFormType(formType),
        mMaker(formType, seed, [this](std::int64_t size) { return Fresh(size); }) {
    FindRoomForReceipts(*store.Reference().FindFormType(mFormType));
  }

  // Applies one save; answers its request id.
  std::string SaveOnce() {
    RangeQuery query;
    query.formType = {{Comparison::Equal, mFormType}};
    const std::vector<StoredRange> ranges = mStore.FindRanges(query);
    const std::string id = fmt::format("{}-{}", mFormType, mSaves++);
    if (mMaker.Chance(12)) {
      // Now and then a form recorded in error leaves the inventory.
      const FormRange& r = ranges.at(mMaker.Pick(0, std::ssize(ranges) - 1)).range;
      const std::int64_t n = mMaker.Pick(r.from, r.to);
      mStore.Withdraw({id, "BACKUPTEST", 1}, mFormType, n, n, "recorded in error");
      return id;
    }
    testing::Attempt attempt = mMaker.Make(ranges);
    while (attempt.mustBeRefused) attempt = mMaker.Make(ranges);
    mStore.ApplyChanges({id, "BACKUPTEST", 1001}, attempt.rows);
    return id;
  }

 private:
  std::int64_t Fresh(std::int64_t size) {
    if (mNextFree + size - 1 > mLastFree) throw std::runtime_error("no room left for receipts");
    mNextFree += size;
    return mNextFree - size;
  }

  // The widest run of numbers no range holds: receipts are taken from it in order.
  void FindRoomForReceipts(const FormTypeInfo& type) {
    RangeQuery query;
    query.formType = {{Comparison::Equal, mFormType}};
    std::int64_t next = type.lowest;
    for (const auto& stored : mStore.FindRanges(query)) {
      if (stored.range.from - next > mLastFree - mNextFree) {
        mNextFree = next;
        mLastFree = stored.range.from - 1;
      }
      next = stored.range.to + 1;
    }
    if (type.highest - next > mLastFree - mNextFree) {
      mNextFree = next;
      mLastFree = type.highest;
    }
  }

  Store& mStore;
  const std::string mFormType;
  testing::SaveMaker mMaker;
  std::int64_t mNextFree = 0;
  std::int64_t mLastFree = -1;
  int mSaves = 0;
};

TEST_F(BackupTest, ABackupTakenDuringSavesRestoresToAStoreThatKeepsEveryRule) {
  const unsigned seed = testing::PropertySeed();
  SCOPED_TRACE(fmt::format("FM_PROPERTY_SEED={}", seed));
  const fs::path live = mDir / "live.db";
  auto store = OpenStore("sqlite:" + live.string());
  LoadDemoInventory(*store);

  std::atomic<bool> stop{false};
  std::atomic<int> saves{0};
  std::mutex idsMutex;
  std::set<std::string> appliedIds;
  std::vector<std::string> failures;
  std::vector<std::thread> clerks;
  const std::vector<std::string> formTypes = {"B", "C", kQuarterlyFormType};
  for (std::size_t i = 0; i < formTypes.size(); ++i) {
    clerks.emplace_back([&, i] {
      Clerk clerk(*store, formTypes[i], seed + i);
      while (!stop) {
        try {
          std::string id = clerk.SaveOnce();
          std::lock_guard lock(idsMutex);
          appliedIds.insert(id);
          ++saves;
        } catch (const std::exception& e) {
          std::lock_guard lock(idsMutex);
          failures.push_back(e.what());
          return;
        }
      }
    });
  }

  // Every step of the copy waits for a save to commit after it, so the backup is taken
  // across many saves however the threads are scheduled.
  while (saves < 10 && failures.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int savesBefore = saves;
  BackupOptions options;
  options.pagesPerStep = 8;
  options.pause = std::chrono::milliseconds(0);
  options.progress = [&](int, int) {
    const int seen = saves;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (saves == seen && failures.empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  };
  const fs::path backup = mDir / "backup.db";
  BackupReport report = BackupSqliteInventory(live, backup, options);
  const int savesDuring = saves - savesBefore;
  while (saves < savesBefore + savesDuring + 10 && failures.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop = true;
  for (auto& t : clerks) t.join();
  ASSERT_THAT(failures, IsEmpty());
  EXPECT_GE(savesDuring, report.steps - 1) << "saves committed while the backup ran";
  EXPECT_GT(report.steps, 10);

  const fs::path restored = mDir / "restored.db";
  RestoreReport restoreReport = RestoreSqliteInventory(backup, restored);
  EXPECT_EQ(restoreReport.ranges, report.ranges);
  EXPECT_EQ(AllRanges(restored), AllRanges(backup));
  EXPECT_THAT(Violations(restored), IsEmpty());

  // The backup is one moment of the run: some saves are in it, later ones are not, and
  // each one in it was applied whole (the checks above would see half a split).
  std::set<std::string> idsInBackup;
  {
    SqliteConnection c(backup, std::chrono::seconds(5));
    // Saves and withdrawals alike leave their request id in the history.
    for (const auto& row :
         c.Query("SELECT DISTINCT request_id FROM range_audit WHERE action <> 'LOAD'", {})) {
      idsInBackup.insert(std::get<std::string>(row[0]));
    }
  }
  EXPECT_GE(static_cast<int>(idsInBackup.size()), savesBefore);
  EXPECT_LT(idsInBackup.size(), appliedIds.size());
  for (const auto& id : idsInBackup) EXPECT_TRUE(appliedIds.count(id)) << id;

  store.reset();
  EXPECT_THAT(Violations(live), IsEmpty()) << "the live store after the run";
}

// The check must see each kind of damage, or a clean result above would prove nothing.
TEST_F(BackupTest, TheInvariantCheckSeesEveryKindOfDamage) {
  const fs::path sound = mDir / "sound.db";
  const unsigned seed = testing::PropertySeed();
  SCOPED_TRACE(fmt::format("FM_PROPERTY_SEED={}", seed));  // the damages depend on the saves too
  {
    auto store = OpenStore("sqlite:" + sound.string());
    LoadDemoInventory(*store);
    Clerk clerk(*store, "C", seed);
    for (int i = 0; i < 40; ++i) clerk.SaveOnce();
  }
  ASSERT_THAT(Violations(sound), IsEmpty());

  const std::string firstWithSuccessor =
      "(SELECT min(r.range_id) FROM form_range r WHERE EXISTS (SELECT 1 FROM form_range n "
      "WHERE n.form_typ_cd = r.form_typ_cd AND n.frm_form_nbr > r.frm_form_nbr))";
  const std::string lastOfItsType =
      "(SELECT r.range_id FROM form_range r WHERE r.form_typ_cd = 'B' ORDER BY r.frm_form_nbr "
      "DESC LIMIT 1)";
  struct Damage {
    const char* name;
    std::string sql;
    const char* seen;
  };
  const std::vector<Damage> damages = {
      {"a range grown over the next one",
       "UPDATE form_range SET to_form_nbr = (SELECT n.to_form_nbr FROM form_range n WHERE "
       "n.form_typ_cd = form_range.form_typ_cd AND n.frm_form_nbr > form_range.frm_form_nbr "
       "ORDER BY n.frm_form_nbr LIMIT 1) WHERE range_id = " +
           firstWithSuccessor,
       "overlaps"},
      {"a range lost",
       "DELETE FROM form_range WHERE range_id = (SELECT max(range_id) FROM form_range)",
       "received but held by no range"},
      {"a change behind the history's back",
       "UPDATE form_range SET cmmt_txt = 'changed outside' WHERE range_id = " + firstWithSuccessor,
       "remaining, comment \"changed outside\"), but its history ends with"},
      {"numbers that were never received",
       "UPDATE form_range SET to_form_nbr = to_form_nbr + 1 WHERE range_id = " + lastOfItsType,
       "OOS Decals: numbers held but never received"},
      // The latest change that changed something: a save of a range as it was leaves nothing
      // for its loss to be seen by.
      {"a history entry lost",
       "DELETE FROM range_audit WHERE audit_id = (SELECT max(audit_id) FROM range_audit WHERE "
       "action = 'UPD' AND (after_from <> before_from OR after_to <> before_to OR "
       "after_trp_id <> before_trp_id OR after_trp_dist_id <> before_trp_dist_id OR "
       "after_reg_nbr <> before_reg_nbr OR after_actn_cd <> before_actn_cd))",
       "history"},
      {"an action the check does not know",
       "UPDATE range_audit SET action = 'XFER' WHERE audit_id = (SELECT max(audit_id) FROM "
       "range_audit)",
       "unknown to this check"},
  };
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.name);
    const fs::path damaged = mDir / "damaged.db";
    fs::copy_file(sound, damaged, fs::copy_options::overwrite_existing);
    Execute(damaged, damage.sql);
    auto violations = Violations(damaged);
    EXPECT_THAT(violations, Contains(HasSubstr(damage.seen)));
  }
}

TEST_F(BackupTest, ARestoreReplacesAStoreOnlyWhenAllowedAndKeepsItsOwnerAndMode) {
  const fs::path source = DemoStore("source.db");
  const fs::path backup = mDir / "backup.db";
  BackupSqliteInventory(source, backup);
  EXPECT_EQ(fs::status(backup).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // A first start of a server leaves an inventory without ranges: nothing to lose.
  const fs::path fresh = mDir / "fresh.db";
  OpenStore("sqlite:" + fresh.string());
  fs::permissions(fresh, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  RestoreSqliteInventory(backup, fresh);
  EXPECT_EQ(AllRanges(fresh), AllRanges(source));
  EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // A store that holds ranges is replaced with force only, and then wholly, even one whose
  // last saves still sit in its -wal.
  const fs::path busy = DemoStore("busy.db");
  {
    auto store = OpenStore("sqlite:" + busy.string());
    Clerk clerk(*store, "C", testing::PropertySeed());
    for (int i = 0; i < 5; ++i) clerk.SaveOnce();
  }
  EXPECT_THROW(RestoreSqliteInventory(backup, busy), BackupError);
  RestoreSqliteInventory(backup, busy, {.force = true});
  EXPECT_EQ(AllRanges(busy), AllRanges(source));
  EXPECT_THAT(Violations(busy), IsEmpty());
}

TEST_F(BackupTest, ARefusedRestoreChangesNothing) {
  const fs::path source = DemoStore("source.db");
  const fs::path good = mDir / "good.db";
  BackupSqliteInventory(source, good);

  struct Case {
    const char* name;
    std::function<fs::path()> backup;  // makes the file to restore from
    bool force;
    const char* message;
  };
  auto variant = [&](const char* name, const std::string& sql) {
    return [&, name, sql] {
      fs::path file = mDir / name;
      fs::copy_file(good, file, fs::copy_options::overwrite_existing);
      Execute(file, sql);
      return file;
    };
  };
  const std::vector<Case> cases = {
      {"a store with ranges, without force", [&] { return good; }, false, "give --force"},
      {"a file that is not a database",
       [&] {
         std::ofstream(mDir / "notes.txt") << "not a database\n";
         return mDir / "notes.txt";
       },
       true, "cannot be read as a SQLite database"},
      {"a database that is not an inventory", variant("other.db", "DROP TABLE range_audit"), true,
       "is not an inventory database"},
      {"a schema newer than this program",
       variant("newer.db",
               "INSERT INTO schema_migration VALUES (99, 'from the future', '2099-01-01')"),
       true, "newer than this server knows"},
      {"a damaged index",
       variant("damaged.db",
               "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = replace(sql, "
               "'parent_id', 'user_id') WHERE name = 'range_audit_parent'"),
       true, "integrity check"},
      {"a missing backup", [&] { return mDir / "missing.db"; }, true, "there is no backup file"},
  };

  const fs::path target = DemoStore("target.db");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = Contents(target);
    const fs::path from = c.backup();
    const auto entries = FolderEntries();
    try {
      RestoreSqliteInventory(from, target, {.force = c.force});
      ADD_FAILURE() << "restored";
    } catch (const BackupError& e) {
      EXPECT_EQ(e.GetKind(), BackupError::Kind::Refused);
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
    EXPECT_EQ(Contents(target), before);
    EXPECT_EQ(FolderEntries(), entries) << "a temporary file was left";
  }

  // A store a server has open is not pulled from under it.
  auto running = OpenStore("sqlite:" + target.string());
  const std::string before = Contents(target);
  try {
    RestoreSqliteInventory(good, target, {.force = true});
    ADD_FAILURE() << "restored under a running server";
  } catch (const BackupError& e) {
    EXPECT_THAT(e.what(), HasSubstr("in use by another process"));
  }
  EXPECT_EQ(running->RangeCount(), AllRanges(source).size());
}

TEST_F(BackupTest, ABackupRefusesWhatItCannotCopyFaithfully) {
  const fs::path source = DemoStore("source.db");
  std::ofstream(mDir / "taken.db") << "an older backup\n";
  Execute(mDir / "plain.db", "CREATE TABLE t (x)");
  struct Case {
    fs::path database;
    fs::path target;
    bool overwrite;
    const char* message;
  };
  const std::vector<Case> cases = {
      {source, mDir / "taken.db", false, "give --force"},
      {mDir / "missing.db", mDir / "out.db", false, "there is no SQLite database"},
      {mDir / "plain.db", mDir / "out.db", false, "is not an inventory database"},
      {source, mDir / "no-such-folder" / "out.db", false, "does not exist"},
      {source, source, true, "must not be the database itself"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target.string());
    const auto entries = FolderEntries();
    BackupOptions options;
    options.overwrite = c.overwrite;
    try {
      BackupSqliteInventory(c.database, c.target, options);
      ADD_FAILURE() << "backed up";
    } catch (const BackupError& e) {
      EXPECT_EQ(e.GetKind(), BackupError::Kind::Refused);
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
    EXPECT_EQ(FolderEntries(), entries);
  }
  EXPECT_EQ(Contents(mDir / "taken.db"), "an older backup\n");
  BackupOptions overwrite;
  overwrite.overwrite = true;
  BackupSqliteInventory(source, mDir / "taken.db", overwrite);
  EXPECT_EQ(AllRanges(mDir / "taken.db"), AllRanges(source));
}

}  // namespace
}  // namespace fm::server
