// The direct request reader against the tree reader: random requests, laid out in several
// ways and damaged at random, must be read alike or left to the tree reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>

#include "JsonDamage.h"
#include "protocol/Json.h"
#include "protocol/ProtocolError.h"
#include "protocol/RequestReader.h"

namespace fm::protocol {
namespace {

class RandomRequests {
 public:
  explicit RandomRequests(unsigned seed) : mRandom(seed) {}

  // Mostly searches as the screen sends them; now and then a text the direct reader leaves
  // alone (escapes, bytes beyond ASCII, a negative or large number, change rows).
  Request Next() {
    Request r;
    r.requestId = Text();
    r.identity = Text();
    r.version = Below(10) ? "1.0" : Text();
    r.requester = Text();
    r.userId = Below(20) ? static_cast<std::int64_t>(Below(100000))
                         : static_cast<std::int64_t>(mRandom()) >> Below(60);
    const int types[] = {33, 34, 0, 32767, -1, 40000};
    r.messageType = types[Below(8) < 6 ? Below(2) : 2 + Below(4)];
    if (Below(8) == 0) {
      DataSet& rows = r.dataSets["TROOPFORM"];
      rows.columns = {{"ACTION", ColumnType::Text}};
      rows.rows = {{std::string("UPD")}};
    }
    const auto criteria = Below(9);
    for (std::uint64_t i = 0; i < criteria; ++i) {
      r.criteria.push_back({"key:" + Text(), Text(), Below(2) ? "=" : "<>", Text()});
    }
    return r;
  }
  std::mt19937_64& Random() { return mRandom; }

 private:
  std::uint64_t Below(std::uint64_t n) { return mRandom() % n; }
  std::string Text() {
    static const std::string plain = "ABCXYZ019 _-:#/.";
    static const std::string unusual[] = {"\"", "\\", "\xc3\xa9", "\n", "\x01", "\x7f"};
    std::string text;
    const auto length = Below(12);
    for (std::uint64_t i = 0; i < length; ++i) {
      text += Below(150) == 0 ? unusual[Below(std::size(unusual))]
                              : std::string(1, plain[Below(plain.size())]);
    }
    return text;
  }

  std::mt19937_64 mRandom;
};

TEST(RequestReader, AnswersWhatTheTreeReaderAnswersOrGivesUp) {
  const unsigned seed = testing::SeedForThisRun(20261206u);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (FM_TEST_SEED repeats a run)");
  RandomRequests requests(seed);
  int read = 0;
  int damagedButRead = 0;
  for (int i = 0; i < 2000; ++i) {
    const Request request = requests.Next();
    const std::string compact = RequestToJson(request);
    // The same request laid out differently: indented, members in another order, a member
    // given twice.
    auto tree = nlohmann::ordered_json::parse(compact);
    nlohmann::ordered_json reordered;
    for (const char* member : {"criteria", "message_type", "user_id", "requester", "version",
                               "identity", "request_id", "data_sets"}) {
      reordered[member] = tree[member];
    }
    const std::string twice = R"({"request_id":"other",)" + compact.substr(1);
    for (const std::string& text : {compact, tree.dump(2, ' ', false), reordered.dump(), twice}) {
      if (!testing::ReadAlike(text, detail::ReadRequestDirectly, detail::RequestFromJsonTree)) {
        continue;
      }
      ++read;
      EXPECT_EQ(RequestFromJson(text), detail::RequestFromJsonTree(text)) << text;
    }
    damagedButRead += testing::ReadAlike(testing::Damaged(compact, requests.Random()),
                                         detail::ReadRequestDirectly, detail::RequestFromJsonTree);
  }
  // Most requests are plain searches, which the direct reader must take itself (all but the
  // layout with a member given twice).
  EXPECT_GT(read, 2000);
  EXPECT_GT(damagedButRead, 0);
}

TEST(RequestReader, TakesTheScreensSearchAndLeavesChangeRowsToTheTreeReader) {
  Request search;
  search.requestId = "r-1";
  search.identity = "TARVO_FormsMaint#1";
  search.version = "1.0";
  search.requester = "FORMSMAINT";
  search.userId = 1001;
  search.criteria = {{"key:TRP_ID", "A", "=", "QUILLMAR"}, {"key:THIN", "YES", "=", "QUILLMAR"}};
  const auto direct = detail::ReadRequestDirectly(RequestToJson(search));
  ASSERT_TRUE(direct.has_value());
  EXPECT_EQ(*direct, search);

  Request save = search;
  save.messageType = kSaveRequeryMessage;
  save.dataSets["TROOPFORM"].columns = {{"ACTION", ColumnType::Text}};
  EXPECT_FALSE(detail::ReadRequestDirectly(RequestToJson(save)).has_value());
  EXPECT_EQ(RequestFromJson(RequestToJson(save)), save);
}

// The digits of a number were summed before their count was checked, so a long one
// overflowed a 64-bit integer (undefined behaviour) before it was left to the tree reader.
TEST(RequestReader, LongNumberOverflowedBeforeItWasLeftToTheTreeReader) {
  const std::string text = R"({"request_id":"1","identity":"D","version":"1.0","requester":"R",)"
                           R"("user_id":10044444444444444444444,"message_type":33,"criteria":[]})";
  EXPECT_FALSE(detail::ReadRequestDirectly(text).has_value());
  EXPECT_THROW(RequestFromJson(text), ProtocolError);
}

}  // namespace
}  // namespace fm::protocol
