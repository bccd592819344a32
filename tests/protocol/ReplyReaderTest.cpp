// The direct reply reader against the tree reader: on any text, the direct reader either
// gives up or answers exactly what the tree reader answers, and it reads every reply the
// server writes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "JsonDamage.h"
#include "protocol/Json.h"
#include "protocol/ProtocolError.h"
#include "protocol/ReplyReader.h"

namespace fm::protocol {
namespace {

class RandomReplies {
 public:
  explicit RandomReplies(unsigned seed) : mRandom(seed) {}

  Reply Next() {
    Reply reply;
    reply.requestId = Text();
    reply.identity = Text();
    reply.ok = Chance(2);
    reply.error = Text();
    const char* const names[] = {"TROOPFORM", "OFFICER", "X", "\xc3\xa9t\xc3\xa9"};
    for (const char* name : names) {
      if (Chance(2)) reply.dataSets.emplace(name, Set());
    }
    return reply;
  }

  std::mt19937_64& Random() { return mRandom; }

 private:
  bool Chance(unsigned in) { return mRandom() % in == 0; }

  std::string Text() {
    // Plain letters mostly; quotes, escapes, control characters and multi-byte characters
    // now and then.
    // clang-format off
    static const char* const pieces[] = {
        "A", "b", "7", " ", "O'Brien", "\"", "\\", "/", "\n", "\t", "\x01", "\x1f", "\x7f",
        "\xc3\xa9", "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "Smith,jr", "Uniform Traffic Ticket"};
    // clang-format on
    std::string out;
    for (auto length = mRandom() % 6; length > 0; --length) {
      out += pieces[mRandom() % std::size(pieces)];
    }
    return out;
  }

  // The extremes now and then, else a number of any size.
  std::int64_t Integer() {
    const std::int64_t edges[] = {std::numeric_limits<std::int64_t>::min(),
                                  std::numeric_limits<std::int64_t>::max(), 0};
    const auto pick = mRandom() % 5;
    return pick < 3 ? edges[pick] : static_cast<std::int64_t>(mRandom()) >> (mRandom() % 63);
  }

  double Real() {
    const double edges[] = {std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::denorm_min(), -0.0, 2.5,
                            static_cast<double>(Integer())};
    const auto pick = mRandom() % 7;
    return pick < 5 ? edges[pick]
                    : std::ldexp(static_cast<double>(mRandom() % 1000000) - 500000.0,
                                 static_cast<int>(mRandom() % 200) - 100);
  }

  DataSet Set() {
    DataSet set;
    const auto width = mRandom() % 6;
    for (std::uint64_t c = 0; c < width; ++c) {
      set.columns.push_back({"COL" + std::to_string(c), static_cast<ColumnType>(mRandom() % 3)});
    }
    const auto height = mRandom() % 6;
    for (std::uint64_t r = 0; r < height; ++r) {
      Row& row = set.rows.emplace_back();
      for (const Column& column : set.columns) {
        if (Chance(5)) {
          row.emplace_back();
        } else if (column.type == ColumnType::Text) {
          row.emplace_back(Text());
        } else if (column.type == ColumnType::Integer) {
          row.emplace_back(Integer());
        } else {
          row.emplace_back(Real());
        }
      }
    }
    return set;
  }

  std::mt19937_64 mRandom;
};

TEST(ReplyReader, AnswersWhatTheTreeReaderAnswersOrGivesUp) {
  const unsigned seed = testing::SeedForThisRun(20240617u);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (FM_TEST_SEED repeats a run)");
  RandomReplies replies(seed);
  int damagedButRead = 0;
  for (int i = 0; i < 1500; ++i) {
    const Reply reply = replies.Next();
    const std::string compact = ReplyToJson(reply);
    // The same reply laid out differently: indented, members in another order.
    auto tree = nlohmann::ordered_json::parse(compact);
    const std::string indented = tree.dump(2, ' ', false);
    nlohmann::ordered_json reordered;
    for (const char* member : {"data_sets", "error", "ok", "identity", "request_id"}) {
      reordered[member] = tree[member];
    }
    for (const std::string& text : {compact, indented, reordered.dump()}) {
      ASSERT_TRUE(testing::ReadAlike(text, detail::ReadReplyDirectly, detail::ReplyFromJsonTree))
          << "gave up on a reply as the server writes it: " << text;
      EXPECT_EQ(detail::ReadReplyDirectly(text), reply) << text;
    }
    damagedButRead += testing::ReadAlike(testing::Damaged(compact, replies.Random()),
                                         detail::ReadReplyDirectly, detail::ReplyFromJsonTree);
  }
  // Damage inside a text or a number often leaves a valid reply: those must be read alike.
  EXPECT_GT(damagedButRead, 0);
}

TEST(ReplyReader, UnusualButValidTextsAreStillReadAndFaultsKeepTheirWording) {
  const std::string cells = R"([{"name":"A","type":"integer"}],"rows":[[1],[null]])";
  struct Case {
    std::string text;
    std::string error;  // empty: read as the reply below
  };
  const Case cases[] = {
      {"\xef\xbb\xbf{\"request_id\":\"r\",\"identity\":\"i\",\"ok\":true,\"error\":\"\","
       "\"data_sets\":{\"S\":{\"columns\":" +
           cells + "}}}",
       ""},
      {R"({"request_id":"x","request_id":"r","identity":"i","ok":true,"error":"",)"
       R"("data_sets":{"S":{"columns":)" +
           cells + "}}}",
       ""},
      {R"({"request_id":"r","identity":"i","ok":true,"error":"","data_sets":{"S":{"rows":[[1],[null]],"columns":[{"name":"A","type":"integer"}]}}})",
       ""},
      {R"({"request_id":"r","identity":"i","ok":1,"error":""})", "ok: expected true or false"},
      {R"({"request_id":"r","identity":"i","ok":true,"error":"","data_sets":{"S":{"columns":)"
       R"([{"name":"A","type":"integer"}],"rows":[[1],[1.5]]}}})",
       "data_sets.S.rows[1][0]: column A holds whole numbers"},
  };
  Reply expected;
  expected.requestId = "r";
  expected.identity = "i";
  expected.ok = true;
  expected.dataSets["S"] = DataSet{{{"A", ColumnType::Integer}}, {{std::int64_t{1}}, {Cell{}}}};
  for (const Case& c : cases) {
    EXPECT_FALSE(detail::ReadReplyDirectly(c.text).has_value()) << c.text;
    try {
      const Reply reply = ReplyFromJson(c.text);
      EXPECT_TRUE(c.error.empty()) << "accepted: " << c.text;
      EXPECT_EQ(reply, expected) << c.text;
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos)
          << e.what() << " for " << c.text;
      EXPECT_FALSE(c.error.empty()) << e.what();
    }
  }
}

}  // namespace
}  // namespace fm::protocol
