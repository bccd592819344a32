#include "platform/Recordset.h"

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/Criteria.h"
#include "platform/PlatformError.h"

namespace fm {

namespace detail {

// The columns of a record set, shared by its clones, its copies and every record set over the
// same shared rows; with the criteria compiled for them. Screens filter and search with the
// same few texts over and over (a code, a registry number), on record sets made afresh each
// time, so compiling each text once per layout saves most of a look-up's work.
class FieldLayout {
 public:
  // Criteria kept per layout. When that many are kept, all are let go at once and keeping
  // starts over: a cost of nothing per look-up, where tracking the least recently used
  // would cost a scan or a list on every miss.
  static constexpr std::size_t kCompiledCriteriaKept = 256;

  explicit FieldLayout(std::vector<FieldDef> defs) : fields(std::move(defs)) {}

  // Throws as CompiledCriterion::Compile; a failure is not kept.
  std::shared_ptr<const CompiledCriterion> Compiled(std::string_view text) const {
    std::lock_guard lock(mMutex);
    if (auto found = mCompiled.find(text); found != mCompiled.end()) return found->second;
    auto compiled = CompiledCriterion::Compile(text, fields);
    if (mCompiled.size() >= kCompiledCriteriaKept) mCompiled.clear();
    mCompiled.emplace(std::string(text), compiled);
    return compiled;
  }

  const std::vector<FieldDef> fields;

 private:
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  // Record sets over shared rows may live on several threads.
  mutable std::mutex mMutex;
  mutable std::unordered_map<std::string, std::shared_ptr<const CompiledCriterion>, TextHash,
                             std::equal_to<>>
      mCompiled;
};

struct TableRow {
  Recordset::Bookmark bookmark = 0;
  bool alive = true;
  std::vector<Value> cells;  // one per field; its own buffer, so adding rows moves no value
};

}  // namespace detail

// Rows no record set changes: the block behind every record set made by Recordset::Over.
struct SharedRows {
  std::shared_ptr<const detail::FieldLayout> layout;
  std::vector<detail::TableRow> rows;  // alive, bookmarks 1..n
};

namespace detail {

// The rows of a record set and its clones. Rows are appended and never reordered, so
// bookmarks, handed out in increasing order, stay sorted along the row list and a bookmark is
// found by binary search. A deleted row stays in place (dead) until enough have gathered to
// be worth compacting, so deleting does not shift every later row each time.
//
// A table made over shared rows reads them in place until its first change, which copies
// them (copy-on-write); the shared block is then kept to the table's end, so references to
// values read before the change stay valid.
struct RecordTable {
  using Row = TableRow;

  explicit RecordTable(std::vector<FieldDef> defs)
      : RecordTable(std::make_shared<const FieldLayout>(std::move(defs))) {}
  explicit RecordTable(std::shared_ptr<const FieldLayout> columns)
      : layout(std::move(columns)), fields(layout->fields) {}
  explicit RecordTable(std::shared_ptr<const SharedRows> rows)
      : layout(rows->layout),
        fields(layout->fields),
        nextBookmark(rows->rows.size() + 1),
        shared(std::move(rows)) {}

  const std::vector<Row>& Rows() const { return shared ? shared->rows : own; }
  std::vector<Row>& MutableRows() {
    if (shared) {
      own = shared->rows;
      keptShared = std::move(shared);
      shared.reset();
    }
    return own;
  }

  // Index of the row with this bookmark, dead or alive, or -1.
  long Find(Recordset::Bookmark bookmark) const {
    const auto& rows = Rows();
    auto it =
        std::lower_bound(rows.begin(), rows.end(), bookmark,
                         [](const Row& row, Recordset::Bookmark b) { return row.bookmark < b; });
    if (it == rows.end() || it->bookmark != bookmark) return -1;
    return static_cast<long>(it - rows.begin());
  }

  std::size_t Append() {
    auto& rows = MutableRows();
    rows.push_back(Row{nextBookmark++, true, std::vector<Value>(fields.size())});
    RowsChanged();
    return rows.size() - 1;
  }

  // Answers whether row indices changed.
  bool Kill(std::size_t row) {
    auto& rows = MutableRows();
    rows[row].alive = false;
    ++deadRows;
    RowsChanged();
    if (deadRows < kCompactAfter || deadRows * 2 < rows.size()) return false;
    std::erase_if(rows, [](const Row& r) { return !r.alive; });
    deadRows = 0;
    return true;
  }

  void RowsChanged() { rowsVersion = valuesVersion = ++changes; }
  void ValuesChanged() { valuesVersion = ++changes; }

  static constexpr std::size_t kCompactAfter = 1024;

  const std::shared_ptr<const FieldLayout> layout;
  const std::vector<FieldDef>& fields;  // the layout's
  std::size_t deadRows = 0;
  Recordset::Bookmark nextBookmark = 1;
  // Views compare these with the version they were built at. rowsVersion moves when rows
  // come or go, valuesVersion on every change.
  std::uint64_t changes = 0;
  std::uint64_t rowsVersion = 0;
  std::uint64_t valuesVersion = 0;

 private:
  std::vector<Row> own;                      // ascending bookmarks
  std::shared_ptr<const SharedRows> shared;  // read in place while set
  std::shared_ptr<const SharedRows> keptShared;
};

}  // namespace detail

namespace {

[[noreturn]] void ThrowNoCurrentRow(std::string_view what) {
  throw PlatformError(PlatformError::kNoCurrentRow, std::string(what));
}

// Sort order: nulls first, numbers before texts, texts without regard to letter case.
int CompareForSort(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);
  if (a.IsNumber() && b.IsNumber()) {
    if (a.IsInteger() && b.IsInteger()) {
      return a.AsInteger() < b.AsInteger() ? -1 : (a.AsInteger() > b.AsInteger() ? 1 : 0);
    }
    const double x = a.IsInteger() ? static_cast<double>(a.AsInteger()) : a.AsDouble();
    const double y = b.IsInteger() ? static_cast<double>(b.AsInteger()) : b.AsDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.IsText() && b.IsText()) return detail::CompareIgnoringCase(a.AsText(), b.AsText());
  return a.IsNumber() ? -1 : 1;
}

std::vector<std::pair<int, bool>> ParseSort(std::string_view text,
                                            const std::vector<FieldDef>& fields) {
  std::vector<std::pair<int, bool>> keys;
  if (text::TrimBlanks(text).empty()) return keys;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view part = text::TrimBlanks(text.substr(start, comma - start));
    if (part.empty()) {
      throw PlatformError(
          PlatformError::kGeneric,
          fmt::format("Empty sort key at position {} in sort: {}", start + 1, text));
    }
    std::string_view name;
    std::string_view rest;
    if (part.front() == '[') {
      const std::size_t close = part.find(']');
      if (close == std::string_view::npos) {
        throw PlatformError(PlatformError::kGeneric,
                            fmt::format("Missing ']' after '{}' in sort: {}", part, text));
      }
      name = part.substr(1, close - 1);
      rest = text::TrimBlanks(part.substr(close + 1));
    } else {
      std::size_t blank = 0;
      while (blank < part.size() && !text::IsBlank(part[blank])) ++blank;
      name = part.substr(0, blank);
      rest = text::TrimBlanks(part.substr(blank));
    }
    const int field = detail::FindFieldIgnoringCase(fields, name);
    if (field < 0) {
      throw PlatformError(PlatformError::kItemNotFound,
                          fmt::format("Unknown field '{}' in sort: {}", name, text));
    }
    bool descending = false;
    if (detail::CompareIgnoringCase(rest, "DESC") == 0) {
      descending = true;
    } else if (!rest.empty() && detail::CompareIgnoringCase(rest, "ASC") != 0) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("Expected ASC or DESC after '{}' but found '{}' in sort: {}",
                                      name, rest, text));
    }
    keys.emplace_back(field, descending);
    start = comma + 1;
  }
  return keys;
}

// Where a search starts: `skip` rows on from `from` in the search's direction. Any skip is
// allowed; one beyond the rows simply finds nothing.
long Offset(long from, long skip, bool forward) {
  constexpr long kFar = 1L << 40;  // more rows than any record set holds
  skip = std::clamp(skip, -kFar, kFar);
  return forward ? from + skip : from - skip;
}

}  // namespace

Recordset::Recordset(std::vector<FieldDef> fields)
    : mTable(std::make_shared<detail::RecordTable>(std::move(fields))) {}

Recordset::Recordset(std::shared_ptr<detail::RecordTable> table) : mTable(std::move(table)) {}

Recordset::~Recordset() = default;

// --- Columns

const std::vector<FieldDef>& Recordset::Fields() const { return mTable->fields; }

int Recordset::FieldCount() const { return static_cast<int>(mTable->fields.size()); }

int Recordset::FindField(std::string_view name) const {
  return detail::FindFieldIgnoringCase(mTable->fields, name);
}

int Recordset::FieldIndex(std::string_view name) const {
  const int index = FindField(name);
  if (index < 0) {
    throw PlatformError(
        PlatformError::kItemNotFound,
        fmt::format("Unknown field '{}': the record set has no field of that name", name));
  }
  return index;
}

// --- View upkeep

std::uint64_t Recordset::RelevantVersion() const {
  return (mFilter || !mSortKeys.empty()) ? mTable->valuesVersion : mTable->rowsVersion;
}

void Recordset::RefreshView() const {
  if (ViewIsFresh()) return;
  const auto& rows = mTable->Rows();
  mView.clear();
  mView.reserve(rows.size() - mTable->deadRows);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    if (!row.alive) continue;
    if (mFilter && !mFilter->Matches(row.cells.data()) && !IsPinned(row.bookmark)) continue;
    mView.push_back(i);
  }
  if (!mSortKeys.empty()) {
    std::stable_sort(mView.begin(), mView.end(), [&](std::size_t a, std::size_t b) {
      for (const auto& [field, descending] : mSortKeys) {
        const auto f = static_cast<std::size_t>(field);
        const int order = CompareForSort(rows[a].cells[f], rows[b].cells[f]);
        if (order != 0) return descending ? order > 0 : order < 0;
      }
      return false;
    });
  }
  mViewPositionsValid = false;
  mViewVersion = RelevantVersion();
}

long Recordset::RowOf(Bookmark bookmark) const {
  const long row = mTable->Find(bookmark);
  if (row < 0 || !mTable->Rows()[static_cast<std::size_t>(row)].alive) return -1;
  return row;
}

long Recordset::ViewIndexOfRow(std::size_t row) const {
  RefreshView();
  if (mSortKeys.empty()) {
    auto it = std::lower_bound(mView.begin(), mView.end(), row);
    return (it != mView.end() && *it == row) ? static_cast<long>(it - mView.begin()) : -1;
  }
  if (!mViewPositionsValid || mViewPositions.size() != mTable->Rows().size()) {
    mViewPositions.assign(mTable->Rows().size(), -1);
    for (std::size_t k = 0; k < mView.size(); ++k) mViewPositions[mView[k]] = static_cast<long>(k);
    mViewPositionsValid = true;
  }
  return row < mViewPositions.size() ? mViewPositions[row] : -1;
}

std::size_t Recordset::CurrentRowIndex() const {
  if (mCursorState == CursorState::BeforeFirst) ThrowNoCurrentRow("No current row: BOF is true");
  if (mCursorState == CursorState::AfterLast) ThrowNoCurrentRow("No current row: EOF is true");
  const long row = RowOf(mCurrent);
  if (row < 0) ThrowNoCurrentRow("No current row: the current row has been deleted");
  return static_cast<std::size_t>(row);
}

long Recordset::CurrentViewIndex() const {
  RefreshView();
  if (mCursorState != CursorState::OnRow) return -1;
  const long row = RowOf(mCurrent);
  if (row < 0) return -1;
  const auto n = static_cast<long>(mView.size());
  if (mPositionHint >= 0 && mPositionHint < n &&
      mView[static_cast<std::size_t>(mPositionHint)] == static_cast<std::size_t>(row)) {
    return mPositionHint;
  }
  const long index = ViewIndexOfRow(static_cast<std::size_t>(row));
  if (index >= 0) mPositionHint = index;
  return index;
}

long Recordset::FollowingPosition() const {
  RefreshView();
  const auto n = static_cast<long>(mView.size());
  if (mSortKeys.empty()) {
    // Table order is bookmark order, so the place of a vanished row is exact.
    const auto& rows = mTable->Rows();
    auto it = std::lower_bound(mView.begin(), mView.end(), mCurrent,
                               [&](std::size_t row, Bookmark b) { return rows[row].bookmark < b; });
    mPositionHint = static_cast<long>(it - mView.begin());
  }
  return std::clamp(mPositionHint, 0L, n);
}

void Recordset::MoveToViewIndex(long index) {
  mCursorState = CursorState::OnRow;
  mCurrent = mTable->Rows()[mView[static_cast<std::size_t>(index)]].bookmark;
  mPositionHint = index;
}

void Recordset::MoveBeforeFirst() {
  mCursorState = CursorState::BeforeFirst;
  mPositionHint = 0;
}

void Recordset::MoveAfterLast() {
  mCursorState = CursorState::AfterLast;
  mPositionHint = static_cast<long>(mView.size());
}

void Recordset::Pin(Bookmark bookmark) {
  auto it = std::lower_bound(mPinned.begin(), mPinned.end(), bookmark);
  if (it == mPinned.end() || *it != bookmark) mPinned.insert(it, bookmark);
}

bool Recordset::IsPinned(Bookmark bookmark) const {
  return !mPinned.empty() && std::binary_search(mPinned.begin(), mPinned.end(), bookmark);
}

// --- Cursor

long Recordset::RecordCount() const {
  RefreshView();
  return static_cast<long>(mView.size());
}

bool Recordset::IsBOF() const {
  return mCursorState == CursorState::BeforeFirst ||
         (mCursorState == CursorState::AfterLast && RecordCount() == 0);
}

bool Recordset::IsEOF() const {
  return mCursorState == CursorState::AfterLast ||
         (mCursorState == CursorState::BeforeFirst && RecordCount() == 0);
}

bool Recordset::HasCurrentRow() const {
  return mCursorState == CursorState::OnRow && RowOf(mCurrent) >= 0;
}

void Recordset::MoveFirst() {
  EndEdit();
  RefreshView();
  if (mView.empty()) {
    MoveBeforeFirst();
  } else {
    MoveToViewIndex(0);
  }
}

void Recordset::MoveLast() {
  EndEdit();
  RefreshView();
  if (mView.empty()) {
    MoveAfterLast();
  } else {
    MoveToViewIndex(static_cast<long>(mView.size()) - 1);
  }
}

void Recordset::MoveNext() {
  EndEdit();
  if (IsEOF()) ThrowNoCurrentRow("Cannot move to the next row: EOF is already true");
  const auto n = static_cast<long>(mView.size());
  long next = 0;
  if (mCursorState == CursorState::OnRow) {
    const long index = CurrentViewIndex();
    next = index >= 0 ? index + 1 : FollowingPosition();
  }
  if (next < n) {
    MoveToViewIndex(next);
  } else {
    MoveAfterLast();
  }
}

void Recordset::MovePrevious() {
  EndEdit();
  if (IsBOF()) ThrowNoCurrentRow("Cannot move to the previous row: BOF is already true");
  const auto n = static_cast<long>(mView.size());
  long previous = n - 1;
  if (mCursorState == CursorState::OnRow) {
    const long index = CurrentViewIndex();
    previous = index >= 0 ? index - 1 : FollowingPosition() - 1;
  }
  if (previous >= 0) {
    MoveToViewIndex(previous);
  } else {
    MoveBeforeFirst();
  }
}

Recordset::Bookmark Recordset::GetBookmark() const {
  CurrentRowIndex();
  return mCurrent;
}

void Recordset::SetBookmark(Bookmark bookmark) {
  EndEdit();
  const long row = RowOf(bookmark);
  if (row < 0) {
    throw PlatformError(PlatformError::kNoCurrentRow,
                        fmt::format("Bookmark {} does not identify a row: the row was deleted "
                                    "or never existed",
                                    bookmark));
  }
  const long index = ViewIndexOfRow(static_cast<std::size_t>(row));
  if (index < 0) {
    throw PlatformError(
        PlatformError::kNoCurrentRow,
        fmt::format("Bookmark {} identifies a row that the filter hides", bookmark));
  }
  MoveToViewIndex(index);
}

long Recordset::AbsolutePosition() const {
  const long index = CurrentViewIndex();
  return index >= 0 ? index + 1 : -1;
}

void Recordset::SetAbsolutePosition(long position) {
  EndEdit();
  const long count = RecordCount();
  if (position < 1 || position > count) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Absolute position {} is out of range: the record set shows "
                                    "{} rows",
                                    position, count));
  }
  MoveToViewIndex(position - 1);
}

// --- Field access

const Value& Recordset::GetValue(std::string_view field) const {
  return GetValue(FieldIndex(field));
}

const Value& Recordset::GetValue(int fieldIndex) const {
  const std::size_t row = CurrentRowIndex();
  if (fieldIndex < 0 || fieldIndex >= FieldCount()) {
    throw PlatformError(PlatformError::kItemNotFound,
                        fmt::format("Field index {} is out of range: the record set has {} "
                                    "fields",
                                    fieldIndex, FieldCount()));
  }
  return mTable->Rows()[row].cells[static_cast<std::size_t>(fieldIndex)];
}

void Recordset::SetValue(std::string_view field, Value value) {
  SetValue(FieldIndex(field), std::move(value));
}

void Recordset::SetValue(int fieldIndex, Value value) {
  const std::size_t row = CurrentRowIndex();
  if (fieldIndex < 0 || fieldIndex >= FieldCount()) {
    throw PlatformError(PlatformError::kItemNotFound,
                        fmt::format("Field index {} is out of range: the record set has {} "
                                    "fields",
                                    fieldIndex, FieldCount()));
  }
  // A value already of the field's type (or null) is stored as it came, without a copy.
  const FieldDef& field = mTable->fields[static_cast<std::size_t>(fieldIndex)];
  Value converted =
      value.IsNull() || value.Holds(field.type) ? std::move(value) : ValueForField(field, value);

  // A filtered view without sort stays exact: the row is pinned, so it neither leaves nor
  // moves. A sorted view may reorder and is rebuilt when next read.
  const bool keepView =
      ViewIsFresh() && mSortKeys.empty() && (!mFilter || ViewIndexOfRow(row) >= 0);
  auto& cells = mTable->MutableRows()[row].cells;
  if (!mEditing) {
    mEditing = true;
    mEditIsNew = false;
    mEditRow = mCurrent;
    mEditOriginal = cells;
  }
  cells[static_cast<std::size_t>(fieldIndex)] = std::move(converted);
  mTable->ValuesChanged();
  if (mFilter) Pin(mCurrent);
  if (keepView) mViewVersion = RelevantVersion();
}

std::string Recordset::GetText(std::string_view field) const { return GetValue(field).ToText(); }

// --- Random access

Recordset::Bookmark Recordset::BookmarkAt(long index) const {
  const long count = RecordCount();
  if (index < 0 || index >= count) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("Row {} is out of range: the record set shows {} rows", index, count));
  }
  return mTable->Rows()[mView[static_cast<std::size_t>(index)]].bookmark;
}

const Value& Recordset::ValueAt(long index, int fieldIndex) const {
  const long count = RecordCount();
  if (index < 0 || index >= count) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("Row {} is out of range: the record set shows {} rows", index, count));
  }
  if (fieldIndex < 0 || fieldIndex >= FieldCount()) {
    throw PlatformError(PlatformError::kItemNotFound,
                        fmt::format("Field index {} is out of range: the record set has {} "
                                    "fields",
                                    fieldIndex, FieldCount()));
  }
  return mTable->Rows()[mView[static_cast<std::size_t>(index)]]
      .cells[static_cast<std::size_t>(fieldIndex)];
}

long Recordset::IndexOf(Bookmark bookmark) const {
  const long row = RowOf(bookmark);
  return row < 0 ? -1 : ViewIndexOfRow(static_cast<std::size_t>(row));
}

// --- Editing

void Recordset::AddNew() {
  EndEdit();
  const bool keepView = ViewIsFresh() && mSortKeys.empty();
  mStateBeforeAdd = mCursorState;
  mCurrentBeforeAdd = mCurrent;
  const std::size_t row = mTable->Append();
  const Bookmark bookmark = mTable->Rows()[row].bookmark;
  if (mFilter) Pin(bookmark);
  if (keepView) {
    // The new row is last in table order, so an unsorted view just grows by it.
    mView.push_back(row);
    mViewVersion = RelevantVersion();
  }
  mCursorState = CursorState::OnRow;
  mCurrent = bookmark;
  mPositionHint = keepView ? static_cast<long>(mView.size()) - 1 : mPositionHint;
  mEditing = true;
  mEditIsNew = true;
  mEditRow = bookmark;
  mEditOriginal.clear();
}

void Recordset::EndEdit() {
  mEditing = false;
  mEditOriginal.clear();
}

void Recordset::Update() { EndEdit(); }

void Recordset::UpdateBatch() { EndEdit(); }

bool Recordset::EditMode() const { return mEditing; }

void Recordset::CancelUpdate() {
  if (!mEditing) return;
  mEditing = false;
  const long row = RowOf(mEditRow);
  if (mEditIsNew) {
    if (row >= 0) RemoveRow(static_cast<std::size_t>(row));
    mCursorState = mStateBeforeAdd;
    mCurrent = mCurrentBeforeAdd;
  } else if (row >= 0) {
    const bool keepView = ViewIsFresh() && mSortKeys.empty() &&
                          (!mFilter || ViewIndexOfRow(static_cast<std::size_t>(row)) >= 0);
    mTable->MutableRows()[static_cast<std::size_t>(row)].cells = std::move(mEditOriginal);
    mTable->ValuesChanged();
    if (keepView) mViewVersion = RelevantVersion();
  }
  mEditOriginal.clear();
}

void Recordset::Delete() {
  const std::size_t row = CurrentRowIndex();
  EndEdit();
  RemoveRow(row);
  // The cursor stays on the deleted row's bookmark: no current row, and the next move
  // continues from where the row stood.
}

void Recordset::RemoveRow(std::size_t row) {
  RefreshView();
  // The row is the current one, so the cursor's position usually saves a lookup (which for
  // a sorted view would mean building the position map on every delete).
  const bool atHint = mPositionHint >= 0 && mPositionHint < static_cast<long>(mView.size()) &&
                      mView[static_cast<std::size_t>(mPositionHint)] == row;
  const long index = atHint ? mPositionHint : ViewIndexOfRow(row);
  if (index >= 0) mPositionHint = index;
  const bool rowsMoved = mTable->Kill(row);
  if (rowsMoved) {
    InvalidateView();
    return;
  }
  if (index >= 0) mView.erase(mView.begin() + index);
  mViewPositionsValid = false;
  mViewVersion = RelevantVersion();
}

// --- Searching

const detail::CompiledCriterion& Recordset::FindCriterion(std::string_view criterion) {
  if (!mLastFind || mLastFind->Text() != criterion) {
    mLastFind = mTable->layout->Compiled(criterion);
  }
  return *mLastFind;
}

bool Recordset::Find(std::string_view criterion, long skipRecords, SearchDirection direction) {
  const detail::CompiledCriterion& compiled = FindCriterion(criterion);
  EndEdit();
  RefreshView();
  const bool forward = direction == SearchDirection::Forward;
  const auto n = static_cast<long>(mView.size());
  long start = 0;
  switch (mCursorState) {
    case CursorState::BeforeFirst:
      start = forward ? 0 : -1;
      break;
    case CursorState::AfterLast:
      start = forward ? n : n - 1;
      break;
    case CursorState::OnRow: {
      const long index = CurrentViewIndex();
      if (index >= 0) {
        start = index;
      } else {
        const long following = FollowingPosition();
        start = forward ? following : following - 1;
      }
      break;
    }
  }
  return FindFrom(compiled, Offset(start, skipRecords, forward), direction);
}

bool Recordset::Find(std::string_view criterion, long skipRecords, SearchDirection direction,
                     Bookmark start) {
  const detail::CompiledCriterion& compiled = FindCriterion(criterion);
  EndEdit();
  const long row = RowOf(start);
  const long index = row < 0 ? -1 : ViewIndexOfRow(static_cast<std::size_t>(row));
  if (index < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Find cannot start at bookmark {}: {}", start,
                                    row < 0 ? "no row has it (deleted or never existed)"
                                            : "the filter hides its row"));
  }
  const bool forward = direction == SearchDirection::Forward;
  return FindFrom(compiled, Offset(index, skipRecords, forward), direction);
}

bool Recordset::FindFrom(const detail::CompiledCriterion& criterion, long start,
                         SearchDirection direction) {
  RefreshView();
  const auto& rows = mTable->Rows();
  const auto n = static_cast<long>(mView.size());
  start = std::clamp(start, -1L, n);
  if (direction == SearchDirection::Forward) {
    for (long i = std::max(start, 0L); i < n; ++i) {
      if (criterion.Matches(rows[mView[static_cast<std::size_t>(i)]].cells.data())) {
        MoveToViewIndex(i);
        return true;
      }
    }
    MoveAfterLast();
    return false;
  }
  for (long i = std::min(start, n - 1); i >= 0; --i) {
    if (criterion.Matches(rows[mView[static_cast<std::size_t>(i)]].cells.data())) {
      MoveToViewIndex(i);
      return true;
    }
  }
  MoveBeforeFirst();
  return false;
}

void Recordset::SetFilter(std::string_view criterion) {
  // Compile first: a bad criterion must leave the old filter in force.
  std::shared_ptr<const detail::CompiledCriterion> compiled;
  if (!text::TrimBlanks(criterion).empty()) {
    compiled = mTable->layout->Compiled(criterion);
  }
  EndEdit();
  mFilter = std::move(compiled);
  mFilterText = mFilter ? std::string(criterion) : std::string();
  mPinned.clear();
  InvalidateView();
  MoveFirst();
}

const std::string& Recordset::Filter() const { return mFilterText; }

void Recordset::SetSort(std::string_view sort) {
  auto keys = ParseSort(sort, mTable->fields);
  EndEdit();
  mSortKeys = std::move(keys);
  mSortText = mSortKeys.empty() ? std::string() : std::string(sort);
  InvalidateView();
  CurrentViewIndex();  // re-learn the cursor's position in the new order
}

const std::string& Recordset::Sort() const { return mSortText; }

// --- Clone and copy

std::shared_ptr<Recordset> Recordset::Clone() const {
  std::shared_ptr<Recordset> clone(new Recordset(mTable));
  clone->MoveFirst();
  return clone;
}

std::shared_ptr<Recordset> Recordset::Copy() const {
  RefreshView();
  std::vector<std::vector<Value>> rows;
  rows.reserve(mView.size());
  const auto& source = mTable->Rows();
  for (std::size_t row : mView) rows.push_back(source[row].cells);
  auto table = std::make_shared<detail::RecordTable>(mTable->layout);
  auto& tableRows = table->MutableRows();
  tableRows.reserve(rows.size());
  for (auto& cells : rows) {
    tableRows.push_back(detail::TableRow{table->nextBookmark++, true, std::move(cells)});
  }
  table->RowsChanged();
  std::shared_ptr<Recordset> copy(new Recordset(std::move(table)));
  copy->MoveFirst();
  return copy;
}

// --- Building from whole rows

namespace {

// Rows as record sets keep them; throws for a row of the wrong width or a value that is not
// of its column's type.
std::vector<detail::TableRow> TableRows(const std::vector<FieldDef>& fields,
                                        std::vector<std::vector<Value>> rows) {
  std::vector<detail::TableRow> out;
  out.reserve(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    auto& cells = rows[r];
    if (cells.size() != fields.size()) {
      throw PlatformError(PlatformError::kGeneric, fmt::format("Row {} has {} values for {} fields",
                                                               r + 1, cells.size(), fields.size()));
    }
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (!cells[c].IsNull() && !cells[c].Holds(fields[c].type)) {
        throw PlatformError(PlatformError::kTypeMismatch,
                            fmt::format("Row {}, field '{}': the value is not of the field's "
                                        "type {}",
                                        r + 1, fields[c].name, FieldTypeName(fields[c].type)));
      }
    }
    out.push_back(detail::TableRow{r + 1, true, std::move(cells)});
  }
  return out;
}

}  // namespace

std::shared_ptr<Recordset> Recordset::FromRows(std::vector<FieldDef> fields,
                                               std::vector<std::vector<Value>> rows) {
  auto table = std::make_shared<detail::RecordTable>(std::move(fields));
  auto checked = TableRows(table->fields, std::move(rows));
  table->nextBookmark = checked.size() + 1;
  table->MutableRows() = std::move(checked);
  table->RowsChanged();
  std::shared_ptr<Recordset> recordset(new Recordset(std::move(table)));
  recordset->MoveFirst();
  return recordset;
}

std::shared_ptr<const SharedRows> Recordset::Share(std::vector<FieldDef> fields,
                                                   std::vector<std::vector<Value>> rows) {
  auto shared = std::make_shared<SharedRows>();
  shared->rows = TableRows(fields, std::move(rows));
  shared->layout = std::make_shared<const detail::FieldLayout>(std::move(fields));
  return shared;
}

std::shared_ptr<Recordset> Recordset::Over(std::shared_ptr<const SharedRows> rows) {
  if (!rows) throw PlatformError(PlatformError::kGeneric, "No shared rows to read");
  auto table = std::make_shared<detail::RecordTable>(std::move(rows));
  table->RowsChanged();
  std::shared_ptr<Recordset> recordset(new Recordset(std::move(table)));
  recordset->MoveFirst();
  return recordset;
}

Value ValueForField(const FieldDef& field, const Value& value) {
  try {
    return value.ConvertedTo(field.type);
  } catch (const PlatformError& error) {
    throw PlatformError(error.Number(), fmt::format("Cannot store a value in field '{}': {}",
                                                    field.name, error.Description()));
  }
}

}  // namespace fm
