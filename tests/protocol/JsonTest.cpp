#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "protocol/Json.h"
#include "protocol/ProtocolError.h"

namespace fm::protocol {
namespace {

using ::testing::HasSubstr;

Request SampleRequest() {
  Request r;
  r.requestId = "7f3c-0001";
  r.identity = "FORMSMAINT-1";
  r.version = "1.0";
  r.requester = "FORMSMAINT";
  r.userId = 1001;
  r.messageType = kSaveRequeryMessage;
  DataSet rows;
  rows.columns = {{"ACTION", ColumnType::Text},
                  {"FRM_FORM_NBR", ColumnType::Integer},
                  {"RATE", ColumnType::Double},
                  {"TRP_FORM_CMMT_TXT", ColumnType::Text}};
  rows.rows = {{std::string("UPD"), std::int64_t{9999999999}, 2.5, Cell{}},
               {std::string("ADD"), std::numeric_limits<std::int64_t>::min(), Cell{},
                std::string("quote \" tab\t \xc3\xa9")}};
  r.dataSets.emplace("TROOPFORM", rows);
  r.criteria = {{"key:TRP_ID", "A", "=", "QUILLMAR"}, {"key:TRP_ACTN_CD", "V", "<>", "QUILLMAR"}};
  return r;
}

// Replaces the first occurrence of `from` in `text`.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

std::string ErrorOf(std::string_view text) {
  try {
    RequestFromJson(text);
  } catch (const ProtocolError& e) {
    return e.what();
  }
  ADD_FAILURE() << "accepted: " << text;
  return {};
}

TEST(ProtocolJson, RequestsAndRepliesSurviveTheRoundTripWithEveryCellKind) {
  EXPECT_EQ(RequestFromJson(RequestToJson(SampleRequest())), SampleRequest());
  Reply reply{"id-1", "DOC", true, "", {}};
  reply.dataSets.emplace(
      "OFFICER", DataSet{{{"INSP_ID", ColumnType::Integer}}, {{std::int64_t{1001}}, {Cell{}}}});
  reply.dataSets.emplace("TROOPFORM", DataSet{});
  EXPECT_EQ(ReplyFromJson(ReplyToJson(reply)), reply);
  Reply failed{"id-2", "DOC", false, "The range overlaps", {}};
  EXPECT_EQ(ReplyFromJson(ReplyToJson(failed)), failed);
  // Brackets inside texts are no nesting; data sets may be left out.
  Request brackets = SampleRequest();
  brackets.criteria[0].value = std::string(100, '[') + "\\\"" + std::string(100, '{');
  EXPECT_EQ(RequestFromJson(RequestToJson(brackets)), brackets);
  EXPECT_TRUE(RequestFromJson(R"({"request_id":"1","identity":"D","version":"1.0",)"
                              R"("requester":"R","user_id":5,"message_type":33,"criteria":[]})")
                  .dataSets.empty());
}

TEST(ProtocolJson, MalformedJsonIsRefusedWithItsPosition) {
  EXPECT_THAT(ErrorOf(R"({"request_id": )"), HasSubstr("not valid JSON"));
  EXPECT_THAT(ErrorOf(""), HasSubstr("not valid JSON"));
  EXPECT_THAT(ErrorOf("{\"a\": \"\xff\"}"), HasSubstr("not valid JSON"));
}

TEST(ProtocolJson, DeepNestingIsRefusedBeforeParsing) {
  // Parsed recursively this would exhaust the stack; the scan refuses it at the cap.
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  EXPECT_THAT(ErrorOf(deep), HasSubstr("more than 16 levels"));
  std::string deepObjects;
  for (int i = 0; i < 100000; ++i) deepObjects += "{\"a\":";
  EXPECT_THAT(ErrorOf(deepObjects), HasSubstr("levels"));
}

// The parser finds a member by a linear search, so an object of many members took time
// quadratic in its size (40,000 members, 13 s).
TEST(ProtocolJson, ObjectOfManyMembersIsRefusedBeforeItsQuadraticParse) {
  std::string many = "{\"0\":0";
  for (int i = 1; i < 1000; ++i) many += fmt::format(",\"{}\":0", i);
  EXPECT_THAT(ErrorOf(many + "}"), HasSubstr("an object of more than 64 members"));
}

// Each fault is one change to a request as the client writes it.
TEST(ProtocolJson, FaultsNameTheMemberAndWhatWasExpected) {
  const std::string text = RequestToJson(SampleRequest());
  const struct {
    const char* from;
    const char* to;
    const char* says;
  } cases[] = {
      {"\"user_id\":1001", "\"user_id\":9223372036854775808",
       "outside the range of a 64-bit integer"},
      {"9999999999", "-9223372036854775809", "64-bit"},
      {"9999999999", "123456789012345678901234567890", "64-bit"},
      {"\"identity\"", "\"identiti\"", "unknown member \"identiti\""},
      {"\"version\":\"1.0\",", "", "missing member \"version\""},
      {"\"op\":\"<>\"", "\"op\":\"<>\",\"extra\":1", "criteria[1]: unknown member \"extra\""},
      {"\"user_id\":1001", "\"user_id\":\"1001\"", "user_id: expected a whole number, got a text"},
      {"\"user_id\":1001", "\"user_id\":10.5", "user_id: expected a whole number"},
      {"\"message_type\":34", "\"message_type\":70000", "message_type"},
      {"\"value\":\"A\"", "\"value\":7", "criteria[0].value: expected a text"},
      {"\"criteria\":[", "\"criteria\":{\"x\":[", "not valid JSON"},
      {"9999999999", "\"9999999999\"",
       "data_sets.TROOPFORM.rows[0][1]: column FRM_FORM_NBR holds whole numbers"},
      {"9999999999", "1.5", "whole numbers"},
      {"[\"UPD\"", "[5", "column ACTION holds texts"},
      {",null]", "]", "has 3 cells for 4 columns"},
      {"\"type\":\"double\"", "\"type\":\"money\"", "unknown column type \"money\""},
      {"\"name\":\"RATE\"", "\"name\":\"ACTION\"", "column ACTION is named twice"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(ErrorOf(Replace(text, c.from, c.to)), HasSubstr(c.says))
        << c.from << " -> " << c.to;
  }
  EXPECT_THAT(ErrorOf("[]"), HasSubstr("message: expected an object"));
  // The limits themselves pass, and a whole number in a double column is a double.
  EXPECT_EQ(
      RequestFromJson(Replace(text, "\"user_id\":1001", "\"user_id\":9223372036854775807")).userId,
      std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(std::get<double>(
                RequestFromJson(Replace(text, "2.5", "3")).dataSets.at("TROOPFORM").rows[0][2]),
            3.0);
}

}  // namespace
}  // namespace fm::protocol
