#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/store/ChangeRules.h"
#include "server/store/StoreTypes.h"

// What the store's saves and withdrawals share with its use records (UseStore.cpp).
namespace fm::server {

class SqlConnection;

// The standing uses of the numbers from..to of the form type.
std::int64_t StandingUsesIn(SqlConnection& c, const std::string& formType, std::int64_t from,
                            std::int64_t to);

// The remaining counts of the ranges one save (or withdrawal) writes, as Store.h says: a
// range with standing uses counts its size less them, and so does a piece of a replaced
// range whose count followed its uses (its own uses, none included); any other range is
// counted by RemainingCounter, from its lowest number up. The same calls as RemainingCounter.
class UseAwareCounter {
 public:
  explicit UseAwareCounter(SqlConnection& connection) : mConnection(connection) {}
  void Replaced(const FormRange& stored);
  std::int64_t RemainingFor(const std::string& formType, std::int64_t from, std::int64_t to) const;

 private:
  SqlConnection& mConnection;
  RemainingCounter mCounter;
  std::vector<FormRange> mFollowingUses;  // replaced ranges whose numbers had standing uses
};

}  // namespace fm::server
