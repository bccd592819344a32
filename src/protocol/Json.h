#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "protocol/Messages.h"

// JSON form of requests and replies (docs/protocol.md shows it with examples).
//
//   request: {"request_id": "...", "identity": "...", "version": "1.0", "requester": "...",
//             "user_id": 1001, "message_type": 33,
//             "data_sets": {"TROOPFORM": {"columns": [{"name": "TRP_ID", "type": "text"}, ...],
//                                         "rows": [["A", 100, null, 2.5], ...]}},
//             "criteria": [{"key": "key:TRP_ID", "value": "A", "op": "=",
//                           "application": "QUILLMAR"}]}
//   reply:   {"request_id": "...", "identity": "...", "ok": true, "error": "",
//             "data_sets": {...}}
//
// "data_sets" may be left out (no data sets); every other member is required. Unknown
// members, missing members and values of the wrong type are refused.
namespace fm::protocol {

// Deepest nesting of arrays and objects a message may have. A reply is four levels deep
// (message, data_sets, data set, rows, row = 5 brackets); the cap leaves room and refuses
// hostile input before the parser sees it.
inline constexpr std::size_t kMaxJsonDepth = 16;

// Most members one object of a message may have. The largest object of the protocol (a
// request) has eight; the parser finds a member by a linear search of the object, so one
// object of many members would take time quadratic in its size to read.
inline constexpr std::size_t kMaxJsonMembers = 64;

std::string RequestToJson(const Request& request);
std::string ReplyToJson(const Reply& reply);

// Parse a message. Throw ProtocolError saying which member is wrong and how, or what is
// wrong with the text (malformed JSON with its byte offset, nesting deeper than
// kMaxJsonDepth, an object of more than kMaxJsonMembers members, an integer outside the
// 64-bit range). These limits are checked by a flat scan before parsing, so no input can
// exhaust the stack or take time out of proportion to its size.
Request RequestFromJson(std::string_view text);
Reply ReplyFromJson(std::string_view text);

// A withdrawal: {"request_id": "...", "form_type": "C", "from": 1100001, "to": 1100005,
// "reason": "..."}, every member required. Reading throws ProtocolError as above.
std::string WithdrawalRequestToJson(const WithdrawalRequest& request);
WithdrawalRequest WithdrawalRequestFromJson(std::string_view text);

// At most the bytes of memory RequestFromJson or WithdrawalRequestFromJson hold at once
// reading `text` (the text itself not counted), whichever reader takes it and whether it
// accepts the text or not, from one pass over the text. The tree reader costs the most:
// its tree and the request's cells side by side, kReadingBytesPerValue for every value (a
// text, number, literal, array or object, member names included); every text once, and a
// quarter more for the allocator's rounding; the parser's buffers, which hold the stretch
// between the starts of two texts or numbers, and the message of a parse error, which
// shows that stretch with a line break or tab as "<U+000A>" and is copied as it is made:
// kReadingBytesPerStretch for each byte of the longest stretch, kReadingBytesPerBreak for
// each line break or tab in it; kReadingBytesFixed for the rest. The figures are measured
// (tests/protocol/ReadingCostTest.cpp holds every reading to them). A server charges the
// cost to its memory budget before it reads a request: a body of values of a byte or two,
// each tens of bytes once read, costs many times its size, and a text of a million blank
// lines and a stray letter costs forty.
inline constexpr std::size_t kReadingBytesPerValue = 160;
inline constexpr std::size_t kReadingBytesPerStretch = 11;
inline constexpr std::size_t kReadingBytesPerBreak = 36;
inline constexpr std::size_t kReadingBytesFixed = 4096;
std::size_t ReadingCost(std::string_view text);

// At most the bytes RequestFromJson holds at once reading `text`: when the text is a search
// its single pass takes (protocol/RequestReader.h), what that pass holds, a block per text
// and the criteria; else ReadingCost. Two passes over the text, neither of which keeps
// anything.
std::size_t RequestReadingCost(std::string_view text);

}  // namespace fm::protocol
