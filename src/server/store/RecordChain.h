#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/store/SqlValue.h"

// The record chain (docs/security.md): one link per history entry, use, use conflict, use
// import, count, certification and settlement, in the order their writes committed. A link
// holds the SHA-256 of its record's content and the SHA-256 of the link before it together
// with its own, so plain SQL that changes, removes, inserts or reorders records or links
// shows. The head (record_chain_head) is the last link; a signed copy of it (a checkpoint,
// Checkpoint.h) proves that nothing before it was rewritten since, even by someone who
// recomputed the whole chain.
namespace fm::server {

class SqlConnection;

enum class ChainKind { History, UseImport, Use, UseConflict, Count, Certification, Settlement };

// The records one write transaction wrote, in the order they are to be linked.
class ChainPending {
 public:
  void Add(ChainKind kind, std::int64_t id);
  // A record whose content the writer has at hand, as the chain reads it back: its id, then
  // its content columns in order (RecordChain.cpp). Spares reading it again, for the few
  // records of a save only: a large write's are read back in pages, so that its contents
  // are not all held at once.
  void Add(ChainKind kind, std::int64_t id, SqlRow content);
  // Every record of the kind from `firstId` on: a bulk write's (one writer at a time
  // writes, so the records past the last one linked are the write's own).
  void AddFrom(ChainKind kind, std::int64_t firstId);
  bool Empty() const { return mEntries.empty(); }

  struct Entry {
    ChainKind kind;
    std::int64_t first;
    std::optional<std::int64_t> last;  // none: every record from `first` on
    std::vector<SqlRow> contents{};    // each record's, when the writer gave them
  };
  const std::vector<Entry>& Entries() const { return mEntries; }

 private:
  std::vector<Entry> mEntries;
  std::size_t mContents = 0;  // rows held in the entries' contents
};

// The store's writers add the records they insert to the write their thread is in (the
// store's Write sets it for each attempt); a record written outside a write is a fault.
class ChainPendingScope {
 public:
  explicit ChainPendingScope(ChainPending& pending);
  ~ChainPendingScope();
  ChainPendingScope(const ChainPendingScope&) = delete;
  ChainPendingScope& operator=(const ChainPendingScope&) = delete;

 private:
  ChainPending* mOuter;
};
void LinkRecord(ChainKind kind, std::int64_t id);
void LinkRecord(ChainKind kind, std::int64_t id, SqlRow content);
void LinkRecordsFrom(ChainKind kind, std::int64_t firstId);

struct ChainHead {
  std::int64_t seq = 0;  // links in the chain; 0 before the first
  std::string linkHash;  // the last link's hash (64 hexadecimal digits)
  friend bool operator==(const ChainHead&, const ChainHead&) = default;
};

// The head as the connection's transaction sees it.
ChainHead ReadChainHead(SqlConnection& connection);

// Links the records of `pending` after the head and moves it, inside the write's
// transaction; answers the head it moved to (none when there was nothing to link). Both
// backends let one writer at a time do this (SQLite's write lock, the chain's lock on
// PostgreSQL), so the links follow the order of the commits. `known`: the head as this
// process last committed it; a few links after it go in one statement that moves the head
// only if it is still there (else the head is read and they go again), which spares a save
// the head's read. `postgres`: that statement may be PostgreSQL's own. `afterKnown`, when
// given, tells whether the links followed `known`.
std::optional<ChainHead> AppendLinks(SqlConnection& connection, const ChainPending& pending,
                                     const std::optional<ChainHead>& known = std::nullopt,
                                     bool postgres = false, bool* afterKnown = nullptr);

// A save's few links after `known`, as one PostgreSQL statement to go with the commit
// (SqlConnection::CommitAfter): no round trip of their own. The statement fails with SQLSTATE
// kDeferredLinksMoved when the head is no longer `known` (another server linked since); the
// write must then run again, linking by AppendLinks.
struct DeferredLinks {
  std::string statement;  // empty: nothing to link
  ChainHead to;           // the head once it has run
};
inline constexpr const char* kDeferredLinksMoved = "22012";
// None when the records are too many for one statement: AppendLinks links them.
std::optional<DeferredLinks> DeferLinks(SqlConnection& connection, const ChainPending& pending,
                                        const ChainHead& known);

// Links every record that has no link yet, kind by kind in the order of their ids: the
// records of a store written before the chain. Answers how many it linked.
std::size_t LinkUnlinkedRecords(SqlConnection& connection);

struct ChainCheckOptions {
  // The most violations told; the check goes on to count them all.
  std::size_t maxViolations = 20;
  // Links read into memory at a time when records are matched with their links: bounds
  // the check's memory whatever the size of the store.
  std::size_t pageLinks = 50000;
  // A signed head taken before (verify --checkpoint): the chain must still hold it.
  std::optional<ChainHead> checkpoint;
};

struct ChainCheck {
  std::int64_t links = 0;
  ChainHead head;
  std::size_t violationCount = 0;
  std::vector<std::string> violations;  // the first maxViolations, in words
};

// Reads the whole chain and every linked table; run it inside a read transaction.
ChainCheck CheckChain(SqlConnection& connection, const ChainCheckOptions& options);

// The chain's hash function: SHA-256 of `bytes`, in hexadecimal.
std::string Sha256Hex(const std::string& bytes);

}  // namespace fm::server
