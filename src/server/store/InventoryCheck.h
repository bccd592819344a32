#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace fm::server {
class SqlConnection;

// What a check of the whole inventory found: how much it read, and every violation in words
// (empty when the inventory accounts for every form number), the ranges named as a clerk
// names them from the store's own reference tables: "ENF001 Citation 1100001-1100100
// (Troop/District A1, Registry # 1002, Activate, 100 remaining)".
struct InventoryCheck {
  std::size_t ranges = 0;
  std::size_t historyEntries = 0;
  std::vector<std::string> violations;
};

// The rules an inventory keeps whatever happened to it (concurrent saves, a backup taken
// meanwhile, a restore, a migration), checked from its own tables, `form_range` and
// `range_audit`:
//
//  1. ranges: To is never below From, and no two ranges of one form type share a number;
//  2. history: replaying `range_audit` in order from an empty inventory ("LOAD" and "ADD"
//     insert the range after the change, "UPD" replaces the range before it, which must be
//     exactly what the replay holds then, "WDR" takes the range before it out, to be
//     replaced by the pieces the same request keeps) never breaks rule 1 and ends with
//     exactly the stored ranges, every column compared;
//  3. numbers: the numbers the ranges hold, per form type, are exactly the numbers received
//     and not withdrawn since: those of "LOAD" entries and of receipts, the "ADD" rows that
//     are not pieces of a split (a piece lies in the span a "UPD" or "WDR" of the same
//     request held before), less the spans of "WDR" entries;
//  4. uses: a range with standing uses counts as remaining its size less them (rule 2 then
//     compares every other column, and for a range any of whose numbers has a use record
//     leaves its count out where an entry replaced it, since uses change counts between
//     entries), and a use that does not stand is superseded by a record.
//
// An audit action the replay does not know is a violation too, so a new kind of change cannot
// slip past unchecked: teach Replay (InventoryCheck.cpp) what it does to the ranges and to the
// numbers of rule 3. The caller gives the snapshot: run it inside a read transaction so that
// the ranges and the history are read from one state (on PostgreSQL it must: the replay
// asks about uses while it reads the history, which takes the connection's cursor). Reads
// every range and every history entry, a row at a time: minutes on an inventory of millions
// of changes, so an administrator's command, not a request's. Holds the ranges the replay
// has reached, a few words each, and the numbers they hold, not the history. Throws what the
// connection throws.
InventoryCheck CheckInventory(SqlConnection& connection);

}  // namespace fm::server
