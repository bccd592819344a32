// The direct request reader against the tree reader on any bytes: whenever the direct reader
// answers, the tree reader must accept the text and answer the same request.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "Require.h"
#include "protocol/ProtocolError.h"
#include "protocol/RequestReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fm::protocol;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto direct = detail::ReadRequestDirectly(text);
  if (!direct) return 0;
  std::optional<Request> tree;
  try {
    tree = detail::RequestFromJsonTree(text);
  } catch (const ProtocolError&) {
  }
  fm::fuzz::Require(tree.has_value(), "the direct request reader read what the tree refuses", text);
  fm::fuzz::Require(*direct == *tree, "the direct request reader read another request", text);
  return 0;
}
