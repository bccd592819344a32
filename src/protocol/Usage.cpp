#include "protocol/Usage.h"

#include <cctype>

namespace fm::protocol {

const char* DispositionKey(Disposition disposition) {
  switch (disposition) {
    case Disposition::Issued:
      return "ISSUED";
    case Disposition::Spoiled:
      return "SPOILED";
    case Disposition::Lost:
      return "LOST";
    case Disposition::Stolen:
      return "STOLEN";
  }
  return "";
}

const char* DispositionCaption(Disposition disposition) {
  switch (disposition) {
    case Disposition::Issued:
      return "Issued";
    case Disposition::Spoiled:
      return "Spoiled";
    case Disposition::Lost:
      return "Lost";
    case Disposition::Stolen:
      return "Stolen";
  }
  return "";
}

std::optional<Disposition> DispositionFromKey(std::string_view text) {
  for (Disposition d : kDispositions) {
    std::string_view key = DispositionKey(d);
    if (key.size() != text.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < key.size() && same; ++i) {
      same = std::toupper(static_cast<unsigned char>(text[i])) == key[i];
    }
    if (same) return d;
  }
  return std::nullopt;
}

const char* UseExceptionKey(UseException kind) {
  switch (kind) {
    case UseException::NotHolder:
      return "not_holder";
    case UseException::AfterDelisting:
      return "after_delisting";
    case UseException::NeverReceived:
      return "never_received";
    case UseException::UsedTwice:
      return "used_twice";
  }
  return "";
}

}  // namespace fm::protocol
