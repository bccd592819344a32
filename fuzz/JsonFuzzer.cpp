// The JSON reader on any bytes, read as each kind of message. A fault must be a
// ProtocolError; what is read must read back the same once written; and the direct reply
// reader must answer what the tree reader answers whenever it answers at all.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Require.h"
#include "protocol/Json.h"
#include "protocol/ProtocolError.h"
#include "protocol/ReplyReader.h"
#include "protocol/Stock.h"

namespace {

using fm::fuzz::Require;
using namespace fm::protocol;

template <class Read, class Write>
void ReadsBackAsWritten(std::string_view text, Read read, Write write) {
  std::optional<decltype(read(text))> message;
  try {
    message = read(text);
  } catch (const ProtocolError&) {
    return;
  }
  // Written by us, so any refusal escapes and is reported as a crash.
  Require(read(write(*message)) == *message, "a message read back differs once written", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ReadsBackAsWritten(text, RequestFromJson, RequestToJson);
  ReadsBackAsWritten(text, ReplyFromJson, ReplyToJson);
  ReadsBackAsWritten(text, WithdrawalRequestFromJson, WithdrawalRequestToJson);
  ReadsBackAsWritten(text, StockMinimumRequestFromJson, StockMinimumRequestToJson);
  if (const auto direct = detail::ReadReplyDirectly(text)) {
    std::optional<Reply> tree;
    try {
      tree = detail::ReplyFromJsonTree(text);
    } catch (const ProtocolError&) {
    }
    Require(tree.has_value(), "the direct reply reader read what the tree reader refuses", text);
    Require(*direct == *tree, "the direct reply reader read another reply", text);
  }
  return 0;
}
