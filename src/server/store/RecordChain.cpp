#include "server/store/RecordChain.h"

#include <fmt/format.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <memory>
#include <unordered_map>

#include "server/store/SqlConnection.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

// At most this many links go in the one statement of LinkAfter; a write of more has its
// records' contents read back rather than kept.
constexpr std::int64_t kFewLinks = 8;

// A linked table: which rows are its records, which of their columns are their content
// (not those the store changes later by design: when a range's entry ended, whether a use
// still stands, a count's certification, which has links of its own), and the rows of other
// tables that belong to the record's content.
struct KindInfo {
  ChainKind kind;
  const char* name;   // as the link stores it
  const char* words;  // as verify names a record
  const char* table;
  const char* id;
  std::string columns;
  const char* only = nullptr;  // the rows that are records of this kind
  std::vector<const char*> parts{};
};

std::string HistoryColumns() {
  std::string columns;
  for (const auto& name : AuditColumns()) {
    if (name == "ended_at") continue;
    columns += (columns.empty() ? "" : ", ") + name;
  }
  return columns;
}

const std::vector<KindInfo>& Kinds() {
  static const std::vector<KindInfo> kinds = {
      {ChainKind::History, "history", "history entry", "range_audit", "audit_id", HistoryColumns()},
      {ChainKind::UseImport, "use_import", "import of uses", "form_use_import", "import_id",
       "file_name, file_hash, source_text, lines, recorded, already, conflicts, recorded_by_id,"
       " recorded_by_name, recorded_at, request_id"},
      {ChainKind::Use, "use", "use", "form_use", "use_id",
       "form_typ_cd, form_nbr, disposition, used_on, reg_nbr, reference, note, source_text,"
       " import_id, line_nbr, recorded_by_id, recorded_by_name, recorded_at, request_id,"
       " supersedes_id, correction_reason"},
      {ChainKind::UseConflict, "use_conflict", "conflicting use report", "form_use_conflict",
       "conflict_id",
       "form_typ_cd, form_nbr, disposition, used_on, reg_nbr, reference, note, source_text,"
       " import_id, line_nbr, contradicts_id, recorded_by_id, recorded_by_name, recorded_at,"
       " request_id"},
      {ChainKind::Count,
       "count",
       "count",
       "physical_count",
       "count_nbr",
       "trp_id, trp_dist_id, form_types, opened_by_id, opened_by_name, opened_at, request_id",
       nullptr,
       {"SELECT form_typ_cd, frm_nbr, to_nbr, reg_nbr, status FROM physical_count_book"
        " WHERE count_nbr = ? ORDER BY form_typ_cd, frm_nbr"}},
      {ChainKind::Certification,
       "certification",
       "certification of count",
       "physical_count",
       "count_nbr",
       "certified_by_id, certified_by_name, certified_at, statement",
       "certified_at IS NOT NULL",
       {"SELECT form_typ_cd, frm_nbr, to_nbr FROM physical_count_counted WHERE count_nbr = ?"
        " ORDER BY form_typ_cd, frm_nbr",
        "SELECT form_typ_cd, frm_nbr, to_nbr, reason, detail FROM physical_count_unexpected"
        " WHERE count_nbr = ? ORDER BY form_typ_cd, frm_nbr",
        "SELECT request_id, entered_at, user_id, span_cnt FROM physical_count_entry"
        " WHERE count_nbr = ? ORDER BY request_id"}},
      {ChainKind::Settlement, "settlement", "settlement", "physical_count_settlement",
       "settlement_id",
       "count_nbr, form_typ_cd, frm_nbr, to_nbr, kind, note, user_id, user_name, settled_at,"
       " request_id"},
  };
  return kinds;
}

const KindInfo& Info(ChainKind kind) {
  for (const auto& k : Kinds()) {
    if (k.kind == kind) return k;
  }
  throw StoreError::Internal("a record kind the chain does not know");
}

const KindInfo* InfoNamed(const std::string& name) {
  for (const auto& k : Kinds()) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

// The records of a kind with ids in [first, last] (no last: from first on), by id.
std::string ContentSql(const KindInfo& k, bool bounded) {
  return fmt::format("SELECT {0}, {1} FROM {2} WHERE {0} >= ?{3}{4} ORDER BY {0}", k.id, k.columns,
                     k.table, bounded ? fmt::format(" AND {} <= ?", k.id) : "",
                     k.only ? fmt::format(" AND {}", k.only) : "");
}

// A value as the chain hashes it: by its text, so that a number reads the same whichever
// backend, type or restore it went through; NULL apart from every text. Every save hashes a
// few dozen values: they are appended in place, without a string of their own.
void AppendValue(std::string& out, const SqlValue& v) {
  if (std::holds_alternative<std::monostate>(v)) {
    out += "N;";
    return;
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    fmt::format_to(std::back_inserter(out), "{}:", s->size());
    out += *s;
  } else {
    const std::string text = SqlText(v);
    fmt::format_to(std::back_inserter(out), "{}:", text.size());
    out += text;
  }
  out += ';';
}

// The content of the record `row` (its id first), with the rows of its parts. The id is the
// link's, not the content's: two records that swapped their ids then show as reordered.
std::string ContentHash(SqlConnection& c, const KindInfo& k, const SqlRow& row) {
  std::string bytes;
  bytes.reserve(512);
  bytes += k.name;
  bytes += '|';
  for (std::size_t i = 1; i < row.size(); ++i) AppendValue(bytes, row[i]);
  for (const char* part : k.parts) {
    bytes += "\n";
    for (const auto& partRow : c.Query(part, {row.at(0)})) {
      bytes += '|';
      for (const auto& value : partRow) AppendValue(bytes, value);
    }
  }
  return Sha256Hex(bytes);
}

std::string LinkHash(const std::string& previous, std::int64_t seq, const std::string& kind,
                     std::int64_t id, const std::string& contentHash) {
  return Sha256Hex(fmt::format("{}|{}|{}|{}|{}", previous, seq, kind, id, contentHash));
}

const std::vector<std::string>& LinkColumns() {
  static const std::vector<std::string> columns = {"seq", "kind", "record_id", "content_hash",
                                                   "link_hash"};
  return columns;
}

// Writes links after the head, a batch at a time, and moves the head at the end.
class LinkWriter {
 public:
  LinkWriter(SqlConnection& c, ChainHead head) : mC(c), mHead(std::move(head)) {}

  void Link(const KindInfo& k, const SqlRow& row) {
    const std::int64_t id = SqlInteger(row.at(0));
    const std::string content = ContentHash(mC, k, row);
    ++mHead.seq;
    mHead.linkHash = LinkHash(mHead.linkHash, mHead.seq, k.name, id, content);
    mRows.push_back({mHead.seq, std::string(k.name), id, content, mHead.linkHash});
    if (mRows.size() >= kBatch) Flush();
  }

  std::optional<ChainHead> Finish() {
    Flush();
    if (!mMoved) return std::nullopt;
    mC.Query("UPDATE record_chain_head SET seq = ?, link_hash = ? WHERE head_id = 1",
             {mHead.seq, mHead.linkHash});
    return mHead;
  }

 private:
  static constexpr std::size_t kBatch = 5000;
  // A save links a few records: one statement for them costs less than a bulk copy.
  static constexpr std::size_t kOneStatement = 8;

  void Flush() {
    if (mRows.empty()) return;
    mMoved = true;
    if (mRows.size() <= kOneStatement) {
      std::string sql =
          "INSERT INTO record_chain (seq, kind, record_id, content_hash, link_hash)"
          " VALUES ";
      std::vector<SqlValue> params;
      for (std::size_t i = 0; i < mRows.size(); ++i) {
        sql += i ? ", (?, ?, ?, ?, ?)" : "(?, ?, ?, ?, ?)";
        params.insert(params.end(), mRows[i].begin(), mRows[i].end());
      }
      mC.Query(sql, params);
    } else {
      mC.BulkInsert("record_chain", LinkColumns(), mRows);
    }
    mRows.clear();
  }

  SqlConnection& mC;
  ChainHead mHead;
  std::vector<SqlRow> mRows;
  bool mMoved = false;
};

thread_local ChainPending* tPending = nullptr;

ChainPending& CurrentPending() {
  if (!tPending) {
    throw StoreError::Internal("a record was written outside a write of the store");
  }
  return *tPending;
}

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
  // The digest fetched once and a context per thread: OpenSSL's implicit fetch and a fresh
  // context at every call cost more than hashing a save's few records.
  static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
  thread_local const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(
      EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (!sha256 || !context || EVP_DigestInit_ex2(context.get(), sha256, nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) {
    throw StoreError::Internal("SHA-256 failed");
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(static_cast<std::size_t>(size) * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4U];
    hex[2 * i + 1] = kDigits[digest[i] & 0xfU];
  }
  return hex;
}

void ChainPending::Add(ChainKind kind, std::int64_t id) {
  if (!mEntries.empty()) {
    Entry& last = mEntries.back();
    if (last.kind == kind && last.last && *last.last + 1 == id && last.contents.empty()) {
      last.last = id;
      return;
    }
  }
  mEntries.push_back({kind, id, id});
}

void ChainPending::Add(ChainKind kind, std::int64_t id, SqlRow content) {
  if (mContents >= static_cast<std::size_t>(kFewLinks)) {
    Add(kind, id);
    return;
  }
  ++mContents;
  if (!mEntries.empty()) {
    Entry& last = mEntries.back();
    if (last.kind == kind && last.last && *last.last + 1 == id && !last.contents.empty()) {
      last.last = id;
      last.contents.push_back(std::move(content));
      return;
    }
  }
  mEntries.push_back({kind, id, id, {}});
  mEntries.back().contents.push_back(std::move(content));
}

void ChainPending::AddFrom(ChainKind kind, std::int64_t firstId) {
  mEntries.push_back({kind, firstId, std::nullopt});
}

ChainPendingScope::ChainPendingScope(ChainPending& pending) : mOuter(tPending) {
  tPending = &pending;
}
ChainPendingScope::~ChainPendingScope() { tPending = mOuter; }

void LinkRecord(ChainKind kind, std::int64_t id) { CurrentPending().Add(kind, id); }
void LinkRecord(ChainKind kind, std::int64_t id, SqlRow content) {
  CurrentPending().Add(kind, id, std::move(content));
}
void LinkRecordsFrom(ChainKind kind, std::int64_t firstId) {
  CurrentPending().AddFrom(kind, firstId);
}

ChainHead ReadChainHead(SqlConnection& c) {
  const auto rows = c.Query("SELECT seq, link_hash FROM record_chain_head WHERE head_id = 1", {});
  if (rows.empty()) {
    throw StoreError::Internal("the record chain has no head: the store is damaged");
  }
  return {SqlInteger(rows[0][0]), SqlText(rows[0][1])};
}

namespace {

struct NewLink {
  const KindInfo* kind;
  std::int64_t id;
  std::string contentHash;
};

// The few links of a save after `from`: their rows, and the head they lead to.
ChainHead Chain(const ChainHead& from, const std::vector<NewLink>& links,
                std::vector<SqlValue>& rows) {
  ChainHead to = from;
  for (const NewLink& l : links) {
    ++to.seq;
    to.linkHash = LinkHash(to.linkHash, to.seq, l.kind->name, l.id, l.contentHash);
    rows.insert(rows.end(), {to.seq, std::string(l.kind->name), l.id, l.contentHash, to.linkHash});
  }
  return to;
}

// PostgreSQL's one statement for a save's links (`rows`, five values a link, leading to `to`):
// a writable common table expression moves the head from `from` and inserts them only if the
// head was still there. `params` null: the values are written into the text, to go with the
// COMMIT (integers, the kinds' own names and hexadecimal digits: nothing a quote could end),
// and a head that moved fails the statement by a division by zero, so that the write commits
// nothing rather than its records without their links. Otherwise the values go to `params`
// and a moved head inserts nothing and returns no row.
std::string GuardedLinksSql(const ChainHead& from, const ChainHead& to,
                            const std::vector<SqlValue>& rows, std::vector<SqlValue>* params) {
  std::string values;
  for (std::size_t i = 0; i < rows.size(); i += 5) {
    if (params) {
      values += i ? ", (?::bigint, ?, ?::bigint, ?, ?)" : "(?::bigint, ?, ?::bigint, ?, ?)";
    } else {
      values += fmt::format("{}({}, '{}', {}, '{}', '{}')", i ? ", " : "",
                            std::get<std::int64_t>(rows[i]), std::get<std::string>(rows[i + 1]),
                            std::get<std::int64_t>(rows[i + 2]), std::get<std::string>(rows[i + 3]),
                            std::get<std::string>(rows[i + 4]));
    }
  }
  std::string head;
  if (params) {
    head = "SET seq = ?, link_hash = ? WHERE head_id = 1 AND seq = ? AND link_hash = ?";
    params->insert(params->end(), {to.seq, to.linkHash, from.seq, from.linkHash});
    params->insert(params->end(), rows.begin(), rows.end());
  } else {
    head = fmt::format(
        "SET seq = {}, link_hash = '{}' WHERE head_id = 1 AND seq = {} AND"
        " link_hash = '{}'",
        to.seq, to.linkHash, from.seq, from.linkHash);
  }
  return fmt::format(
      "WITH moved AS (UPDATE record_chain_head {} RETURNING seq) INSERT INTO record_chain (seq,"
      " kind, record_id, content_hash, link_hash) SELECT * FROM (VALUES {}) AS v WHERE {}",
      head, values,
      params ? "EXISTS (SELECT 1 FROM moved) RETURNING seq"
             : "1 / (SELECT count(*) FROM moved) = 1");
}

// The few links of a save in one statement that moves the head from `from` only if it is
// still there: answers false, having written nothing, when it was not.
bool LinkAfter(SqlConnection& c, const ChainHead& from, const std::vector<NewLink>& links,
               bool postgres, ChainHead& to) {
  std::vector<SqlValue> rows;
  to = Chain(from, links, rows);
  if (postgres) {
    // One round trip.
    std::vector<SqlValue> params;
    const std::string sql = GuardedLinksSql(from, to, rows, &params);
    return !c.Query(sql, params).empty();
  }
  if (c.Query("UPDATE record_chain_head SET seq = ?, link_hash = ? WHERE head_id = 1 AND seq = ?"
              " AND link_hash = ? RETURNING seq",
              {to.seq, to.linkHash, from.seq, from.linkHash})
          .empty()) {
    return false;
  }
  std::string values;
  for (std::size_t i = 0; i < links.size(); ++i)
    values += i ? ", (?, ?, ?, ?, ?)" : "(?, ?, ?, ?, ?)";
  c.Query(fmt::format("INSERT INTO record_chain (seq, kind, record_id, content_hash, link_hash)"
                      " VALUES {}",
                      values),
          rows);
  return true;
}

// The records of `pending` when they are few and their number known: a save's.
std::optional<std::vector<NewLink>> FewLinks(SqlConnection& c, const ChainPending& pending) {
  std::vector<NewLink> links;
  for (const auto& entry : pending.Entries()) {
    if (!entry.last || *entry.last - entry.first >= kFewLinks) return std::nullopt;
    const KindInfo& k = Info(entry.kind);
    if (!entry.contents.empty()) {
      for (const SqlRow& row : entry.contents) {
        links.push_back({&k, SqlInteger(row.at(0)), ContentHash(c, k, row)});
      }
      continue;
    }
    c.QueryEach(ContentSql(k, true), {entry.first, *entry.last}, [&](const SqlRow& row) {
      links.push_back({&k, SqlInteger(row.at(0)), ContentHash(c, k, row)});
      return true;
    });
  }
  if (static_cast<std::int64_t>(links.size()) > kFewLinks) return std::nullopt;
  return links;
}

}  // namespace

std::optional<ChainHead> AppendLinks(SqlConnection& c, const ChainPending& pending,
                                     const std::optional<ChainHead>& known, bool postgres,
                                     bool* afterKnown) {
  if (afterKnown) *afterKnown = false;
  if (pending.Empty()) return std::nullopt;
  if (auto few = FewLinks(c, pending)) {
    if (few->empty()) return std::nullopt;
    ChainHead moved;
    if (known && LinkAfter(c, *known, *few, postgres, moved)) {
      if (afterKnown) *afterKnown = true;
      return moved;
    }
    // Another server linked since, or this process has not read the head yet.
    if (LinkAfter(c, ReadChainHead(c), *few, postgres, moved)) return moved;
    throw StoreError::Internal("the record chain's head moved during a write that holds its lock");
  }
  LinkWriter writer(c, ReadChainHead(c));
  for (const auto& entry : pending.Entries()) {
    const KindInfo& k = Info(entry.kind);
    std::vector<SqlValue> params{entry.first};
    if (entry.last) params.emplace_back(*entry.last);
    c.QueryEach(ContentSql(k, entry.last.has_value()), params, [&](const SqlRow& row) {
      writer.Link(k, row);
      return true;
    });
  }
  return writer.Finish();
}

std::optional<DeferredLinks> DeferLinks(SqlConnection& c, const ChainPending& pending,
                                        const ChainHead& known) {
  DeferredLinks deferred;
  if (pending.Empty()) return deferred;
  auto few = FewLinks(c, pending);
  if (!few) return std::nullopt;
  if (few->empty()) return deferred;
  std::vector<SqlValue> rows;
  deferred.to = Chain(known, *few, rows);
  deferred.statement = GuardedLinksSql(known, deferred.to, rows, nullptr);
  return deferred;
}

std::size_t LinkUnlinkedRecords(SqlConnection& c) {
  const std::int64_t before = ReadChainHead(c).seq;
  ChainPending pending;
  for (const auto& k : Kinds()) {
    const auto rows = c.Query("SELECT max(record_id) FROM record_chain WHERE kind = ?", {k.name});
    pending.AddFrom(k.kind, (rows.empty() ? 0 : SqlOptInteger(rows[0][0]).value_or(0)) + 1);
  }
  AppendLinks(c, pending);
  return static_cast<std::size_t>(ReadChainHead(c).seq - before);
}

namespace {

class Findings {
 public:
  Findings(ChainCheck& check, std::size_t most) : mCheck(check), mMost(most) {}
  template <typename... Args>
  void Add(fmt::format_string<Args...> format, Args&&... args) {
    ++mCheck.violationCount;
    if (mCheck.violations.size() < mMost) {
      mCheck.violations.push_back(fmt::format(format, std::forward<Args>(args)...));
    }
  }

 private:
  ChainCheck& mCheck;
  std::size_t mMost;
};

// Every link follows the one before it, and the head is the last.
void CheckLinks(SqlConnection& c, const ChainCheckOptions& options, ChainCheck& check,
                Findings& found) {
  ChainHead walked{0, std::string(64, '0')};
  bool checkpointSeen = false;
  c.QueryEach(
      "SELECT seq, kind, record_id, content_hash, link_hash FROM record_chain ORDER BY seq", {},
      [&](const SqlRow& row) {
        const std::int64_t seq = SqlInteger(row[0]);
        const std::string kind = SqlText(row[1]);
        const std::int64_t id = SqlInteger(row[2]);
        const std::string stored = SqlText(row[4]);
        const KindInfo* k = InfoNamed(kind);
        const std::string what =
            k ? fmt::format("{} {}", k->words, id) : fmt::format("\"{}\" {}", kind, id);
        ++check.links;
        if (seq != walked.seq + 1) {
          found.Add("Chain link {} ({}) follows link {}: {} removed there.", seq, what, walked.seq,
                    seq > walked.seq + 1 ? fmt::format("links {}-{} were", walked.seq + 1, seq - 1)
                                         : std::string("a link was inserted or"));
        } else if (!k) {
          found.Add("Chain link {} records a kind of record the server never links (\"{}\").", seq,
                    kind);
        } else if (LinkHash(walked.linkHash, seq, kind, id, SqlText(row[3])) != stored) {
          found.Add(
              "Chain link {} ({}) does not follow link {}: a link was changed, removed, "
              "inserted or reordered there.",
              seq, what, walked.seq);
        }
        walked = {seq, stored};
        if (options.checkpoint && seq == options.checkpoint->seq) {
          checkpointSeen = true;
          if (stored != options.checkpoint->linkHash) {
            found.Add(
                "Chain link {} ({}) is not the link the checkpoint signed: the chain up to it "
                "was rewritten after the checkpoint was taken.",
                seq, what);
          }
        }
        return true;
      });
  check.head = ReadChainHead(c);
  if (check.head != walked) {
    found.Add(
        "The chain's head names link {}, but the chain ends at link {}: the last links were "
        "removed, or the head was moved.",
        check.head.seq, walked.seq);
  }
  if (options.checkpoint && !checkpointSeen && options.checkpoint->seq > 0) {
    found.Add(
        "The checkpoint signed link {}, but the chain ends at link {}: links the checkpoint "
        "saw were removed.",
        options.checkpoint->seq, walked.seq);
  }
}

struct LinkOfRecord {
  std::int64_t id;
  std::string contentHash;
  std::int64_t seq;
};

// Every record of the kind has its link, with its content, and every link its record.
void CheckRecords(SqlConnection& c, const KindInfo& k, const ChainCheckOptions& options,
                  Findings& found) {
  const std::string linksSql =
      "SELECT record_id, content_hash, seq FROM record_chain WHERE kind = ? AND record_id > ?"
      " ORDER BY record_id LIMIT ?";
  std::int64_t after = std::numeric_limits<std::int64_t>::min();
  for (;;) {
    std::vector<LinkOfRecord> page;
    std::unordered_map<std::string, std::size_t> byContent;  // index in page
    for (const auto& row :
         c.Query(linksSql, {k.name, after, static_cast<std::int64_t>(options.pageLinks)})) {
      page.push_back({SqlInteger(row[0]), SqlText(row[1]), SqlInteger(row[2])});
      byContent.emplace(page.back().contentHash, page.size() - 1);
    }
    const bool last = page.size() < options.pageLinks;
    std::vector<SqlValue> params{after == std::numeric_limits<std::int64_t>::min() ? after
                                                                                   : after + 1};
    if (!last) params.emplace_back(page.back().id);
    std::size_t next = 0;
    auto removedUpTo = [&](std::int64_t id) {
      for (; next < page.size() && page[next].id < id; ++next) {
        found.Add(
            "The {} {} was removed: chain link {} records it, and the store no longer "
            "holds it.",
            k.words, page[next].id, page[next].seq);
      }
    };
    c.QueryEach(ContentSql(k, !last), params, [&](const SqlRow& row) {
      const std::int64_t id = SqlInteger(row.at(0));
      removedUpTo(id);
      if (next == page.size() || page[next].id != id) {
        found.Add("The {} {} was inserted outside the server: no chain link records it.", k.words,
                  id);
        return true;
      }
      const LinkOfRecord& link = page[next++];
      const std::string content = ContentHash(c, k, row);
      if (content == link.contentHash) return true;
      if (auto moved = byContent.find(content); moved != byContent.end()) {
        const LinkOfRecord& other = page[moved->second];
        found.Add(
            "The {} {} holds what chain link {} recorded for the {} {}: the records were "
            "reordered.",
            k.words, id, other.seq, k.words, other.id);
      } else {
        found.Add(
            "The {} {} was changed after it was written: it no longer has the content "
            "chain link {} recorded.",
            k.words, id, link.seq);
      }
      return true;
    });
    removedUpTo(std::numeric_limits<std::int64_t>::max());
    if (last) return;
    after = page.back().id;
  }
}

}  // namespace

ChainCheck CheckChain(SqlConnection& c, const ChainCheckOptions& options) {
  ChainCheck check;
  Findings found(check, options.maxViolations);
  CheckLinks(c, options, check, found);
  for (const auto& k : Kinds()) CheckRecords(c, k, options, found);
  return check;
}

}  // namespace fm::server
