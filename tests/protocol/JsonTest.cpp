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

TEST(ProtocolJson, RequestSurvivesTheRoundTripWithEveryCellKind) {
  Request original = SampleRequest();
  EXPECT_EQ(RequestFromJson(RequestToJson(original)), original);
}

TEST(ProtocolJson, ReplySurvivesTheRoundTrip) {
  Reply reply{"id-1", "DOC", true, "", {}};
  reply.dataSets.emplace(
      "OFFICER", DataSet{{{"INSP_ID", ColumnType::Integer}}, {{std::int64_t{1001}}, {Cell{}}}});
  reply.dataSets.emplace("TROOPFORM", DataSet{});
  EXPECT_EQ(ReplyFromJson(ReplyToJson(reply)), reply);

  Reply failed{"id-2", "DOC", false, "The range overlaps", {}};
  EXPECT_EQ(ReplyFromJson(ReplyToJson(failed)), failed);
}

TEST(ProtocolJson, DataSetsMayBeLeftOut) {
  Request r = RequestFromJson(
      R"({"request_id":"1","identity":"D","version":"1.0","requester":"R","user_id":5,)"
      R"("message_type":33,"criteria":[]})");
  EXPECT_TRUE(r.dataSets.empty());
  EXPECT_EQ(r.messageType, 33);
}

TEST(ProtocolJson, MalformedJsonIsRefusedWithItsPosition) {
  EXPECT_THAT(ErrorOf(R"({"request_id": )"), HasSubstr("not valid JSON"));
  EXPECT_THAT(ErrorOf("[1, 2,"), HasSubstr("not valid JSON"));
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

TEST(ProtocolJson, BracketsInsideTextsDoNotCountAsNesting) {
  Request r = SampleRequest();
  r.criteria[0].value = std::string(100, '[') + "\\\"" + std::string(100, '{');
  EXPECT_EQ(RequestFromJson(RequestToJson(r)), r);
}

TEST(ProtocolJson, IntegersOutsideSixtyFourBitsAreRefused) {
  std::string text = RequestToJson(SampleRequest());
  EXPECT_THAT(ErrorOf(Replace(text, "\"user_id\":1001", "\"user_id\":9223372036854775808")),
              HasSubstr("outside the range of a 64-bit integer"));
  EXPECT_THAT(ErrorOf(Replace(text, "9999999999", "-9223372036854775809")), HasSubstr("64-bit"));
  EXPECT_THAT(ErrorOf(Replace(text, "9999999999", "123456789012345678901234567890")),
              HasSubstr("64-bit"));
  // The limits themselves pass.
  Request r = RequestFromJson(Replace(text, "\"user_id\":1001", "\"user_id\":9223372036854775807"));
  EXPECT_EQ(r.userId, std::numeric_limits<std::int64_t>::max());
}

TEST(ProtocolJson, UnknownAndMissingMembersAreNamed) {
  std::string text = RequestToJson(SampleRequest());
  EXPECT_THAT(ErrorOf(Replace(text, "\"identity\"", "\"identiti\"")),
              HasSubstr("unknown member \"identiti\""));
  EXPECT_THAT(ErrorOf(Replace(text, "\"version\":\"1.0\",", "")),
              HasSubstr("missing member \"version\""));
  EXPECT_THAT(ErrorOf(Replace(text, "\"op\":\"<>\"", "\"op\":\"<>\",\"extra\":1")),
              HasSubstr("criteria[1]: unknown member \"extra\""));
}

TEST(ProtocolJson, WrongTypesNameTheMemberAndWhatWasExpected) {
  std::string text = RequestToJson(SampleRequest());
  EXPECT_THAT(ErrorOf(Replace(text, "\"user_id\":1001", "\"user_id\":\"1001\"")),
              HasSubstr("user_id: expected a whole number, got a text"));
  EXPECT_THAT(ErrorOf(Replace(text, "\"user_id\":1001", "\"user_id\":10.5")),
              HasSubstr("user_id: expected a whole number"));
  EXPECT_THAT(ErrorOf(Replace(text, "\"message_type\":34", "\"message_type\":70000")),
              HasSubstr("message_type"));
  EXPECT_THAT(ErrorOf(Replace(text, "\"value\":\"A\"", "\"value\":7")),
              HasSubstr("criteria[0].value: expected a text"));
  EXPECT_THAT(ErrorOf(Replace(text, "\"criteria\":[", "\"criteria\":{\"x\":[")),
              HasSubstr("not valid JSON"));
  EXPECT_THAT(ErrorOf("[]"), HasSubstr("message: expected an object"));
}

TEST(ProtocolJson, CellsMustMatchTheirColumnType) {
  std::string text = RequestToJson(SampleRequest());
  EXPECT_THAT(ErrorOf(Replace(text, "9999999999", "\"9999999999\"")),
              HasSubstr("data_sets.TROOPFORM.rows[0][1]: column FRM_FORM_NBR holds whole numbers"));
  EXPECT_THAT(ErrorOf(Replace(text, "9999999999", "1.5")), HasSubstr("whole numbers"));
  EXPECT_THAT(ErrorOf(Replace(text, "[\"UPD\"", "[5")), HasSubstr("column ACTION holds texts"));
  // A whole number in a double column is a double.
  Request r = RequestFromJson(Replace(text, "2.5", "3"));
  EXPECT_EQ(std::get<double>(r.dataSets.at("TROOPFORM").rows[0][2]), 3.0);
}

TEST(ProtocolJson, DataSetShapeIsChecked) {
  std::string text = RequestToJson(SampleRequest());
  EXPECT_THAT(ErrorOf(Replace(text, ",null]", "]")), HasSubstr("has 3 cells for 4 columns"));
  EXPECT_THAT(ErrorOf(Replace(text, "\"type\":\"double\"", "\"type\":\"money\"")),
              HasSubstr("unknown column type \"money\""));
  EXPECT_THAT(ErrorOf(Replace(text, "\"name\":\"RATE\"", "\"name\":\"ACTION\"")),
              HasSubstr("column ACTION is named twice"));
}

}  // namespace
}  // namespace fm::protocol
