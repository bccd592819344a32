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

}  // namespace fm::protocol
