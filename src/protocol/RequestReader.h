#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "protocol/Messages.h"

// Internal to the protocol library (and its tests): the two readers behind RequestFromJson.
namespace fm::protocol::detail {

// A single pass over the text straight into the request, for searches as the screen sends
// them (no data set, or an empty "data_sets"). Answers nullopt for anything it does not
// take: malformed JSON, a member that would be refused, but also merely unusual input (an
// escape or a byte beyond ASCII in a text, a negative number, members repeated, change
// rows). Whatever it answers, RequestFromJsonTree answers the same for the same text; on
// nullopt the caller falls back to that reader, which then accepts or names the fault.
std::optional<Request> ReadRequestDirectly(std::string_view text);

// At most the bytes ReadRequestDirectly holds at once reading `text` (the text itself not
// counted), from a pass that keeps nothing; nullopt when it does not take the text.
inline constexpr std::size_t kDirectReadingBytesFixed = 1024;
std::optional<std::size_t> DirectReadingCost(std::string_view text);

// The general reader: the text parsed into a JSON tree, then checked member by member.
// Throws ProtocolError as RequestFromJson documents.
Request RequestFromJsonTree(std::string_view text);

}  // namespace fm::protocol::detail
