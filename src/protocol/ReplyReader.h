#pragma once

#include <optional>
#include <string_view>

#include "protocol/Messages.h"

// Internal to the protocol library (and its tests): the two readers behind ReplyFromJson.
namespace fm::protocol::detail {

// A single pass over the text straight into the reply's typed cells, for replies as the
// server writes them. Answers nullopt for anything it does not take: malformed JSON, a
// member or cell that would be refused, but also merely unusual texts (a byte-order mark,
// members repeated, "rows" before "columns"). Whatever it answers, ReplyFromJsonTree answers
// the same for the same text; on nullopt the caller falls back to that reader, which then
// accepts or names the fault.
std::optional<Reply> ReadReplyDirectly(std::string_view text);

// The general reader: the text parsed into a JSON tree, then checked member by member.
// Throws ProtocolError as ReplyFromJson documents.
Reply ReplyFromJsonTree(std::string_view text);

}  // namespace fm::protocol::detail
