#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/store/Store.h"

namespace fm::server {

// What a generated history covers, and the sizes of the writes that make it. Every limit is
// an option of `formsmaint-server --generate` (docs/protocol.md).
struct HistoryOptions {
  // About how many ranges the inventory holds at the end: the initial load and the receipts
  // are sized so that, with the splits of the assignments, the count lands near it.
  std::size_t ranges = 1'000'000;
  // Years of work before `end`, one step a month.
  int years = 10;
  std::uint64_t seed = 1;
  // When the history ends; the epoch (the default): now.
  std::chrono::system_clock::time_point end{};
  // Rows one save carries at most: a clerk's batch at the largest. Larger saves spare
  // transactions, smaller ones give more, shorter entries of the chain of custody.
  std::size_t rowsPerSave = 500;
  // Physical counts each year, one station and form type each. Opening and certifying a count
  // reads the station's book and its uses, which on SQLite at a million ranges takes about a
  // minute per count: fewer counts make a large store much sooner.
  std::size_t countsPerYear = 4;
};

// What the generation wrote.
struct GeneratedHistory {
  std::size_t ranges = 0;  // held at the end
  std::size_t loaded = 0;  // ranges of the initial load
  std::size_t saves = 0;
  std::size_t rows = 0;  // change rows of the saves
  std::size_t receipts = 0;
  std::size_t assignments = 0;
  std::size_t splits = 0;
  std::size_t voids = 0;
  std::size_t delistings = 0;
  std::size_t moves = 0;
  std::size_t returns = 0;
  std::size_t withdrawals = 0;
  std::size_t uses = 0;
  std::size_t counts = 0;
};

// Fills the empty store at `address` with `options.years` of an agency's work ending at
// `options.end`: an initial load, then month by month receipts of new numbers, assignments
// to officers on duty (half of them splitting a stock range), uses of the assigned forms
// (issued on citations, spoiled, lost, stolen), voids, delistings, moves between stations,
// officers' returns, withdrawals and each year physical counts of some stations. Everything
// goes through the store's own writes (LoadInventory, ApplyChanges, Withdraw, RecordUses and
// the counts'), under a clock that walks through the years, so the history, the uses, the
// hand receipts and the record chain are what those writes keep. The same seed, end and
// reference data give the same store. `store` configures the store opened (its clock is
// replaced). Throws StoreError (Rejected for a non-empty store or bounds too small).
GeneratedHistory GenerateHistory(const std::string& address, StoreOptions store,
                                 const HistoryOptions& options);

}  // namespace fm::server
