#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Value.h"

// The cursor tests are IsBOF and IsEOF, since EOF itself is a macro of the C library.

namespace fm {

struct FieldDef {
  std::string name;
  FieldType type = FieldType::Text;
  int size = 0;  // longest text a column is meant to hold; 0 = unlimited (not enforced)
};

// Rows that no record set changes, shared by every record set made over them (see
// Recordset::Share).
struct SharedRows;

namespace detail {
struct RecordTable;  // the rows, shared between a record set and its clones
struct CompiledCriterion;
}  // namespace detail

// `value` converted for a column of `field`'s type, as SetValue converts it; throws
// PlatformError ("Cannot store a value in field '...': ...") when it does not convert.
Value ValueForField(const FieldDef& field, const Value& value);

enum class SearchDirection { Forward, Backward };

// An in-memory, typed, ordered table with a cursor: the part of an ADO record set that the
// screen uses.
//
// Positions. The cursor stands on a row, before the first row (BOF) or after the last (EOF);
// an empty record set is at both. Rows are seen through the current filter and sort; the
// `RecordCount` and absolute positions (1-based) count only visible rows. MoveFirst and
// MoveLast on an empty set are no error; MoveNext at EOF and MovePrevious at BOF are. When
// the current row is deleted (here or through a clone) the cursor stands on no row, BOF and
// EOF are both false, and the next move continues from where the row stood.
//
// Bookmarks identify a row for its whole life, whatever filter or sort is in force, and are
// never reused. They stay valid in clones.
//
// Editing. `AddNew` appends a row at once and makes it current; field writes go to the
// current row; `Update` ends the edit. There is no separate pending state: a written value
// is visible to clones immediately, as in a client-side cursor with batch updating, and
// `UpdateBatch` only ends an open edit. Moving the cursor (Move*, SetBookmark, Find,
// SetFilter, SetSort) ends an open edit too. `CancelUpdate` removes a row added by AddNew,
// or puts back the values an edit of an existing row had. `Delete` removes the current row;
// the cursor then stands on no row until it is moved. A row added or written through this
// record set while a filter is in force stays visible in it until the filter is set again,
// even if it does not meet the filter; clones re-apply their filter and sort to every change.
//
// References returned by GetValue and ValueAt stay valid until a row is deleted or an added
// row cancelled, through this record set or a clone.
//
// Criteria (`Find`, `Filter`) are texts: comparisons FIELD op literal with op one of
// = <> < <= > >= LIKE, joined by AND / OR (any letter case) and parentheses; literals are
// 'quoted texts', numbers (64-bit integers or decimals) and NULL (`= NULL`, `<> NULL`).
// LIKE takes * or % as wildcards. Text comparisons ignore letter case. A malformed
// criterion or an unknown field throws PlatformError naming what is wrong.
//
// Clones share the rows (a row added, changed or deleted through one is seen by the other)
// but have their own cursor, filter and sort.
//
// Threads: one at a time, also for const members (the visible rows are worked out lazily).
// A record set may be built on one thread and handed to another.
//
// Errors: every misuse (no current row, unknown field, a text that does not convert into a
// numeric column, bad criterion) throws PlatformError; the record set is left unchanged.
class Recordset {
 public:
  using Bookmark = std::uint64_t;

  explicit Recordset(std::vector<FieldDef> fields);
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // --- Columns
  const std::vector<FieldDef>& Fields() const;
  int FieldCount() const;
  // Index of a column by name, letter case ignored; -1 when there is none.
  int FindField(std::string_view name) const;
  // As FindField, but throws PlatformError (item not found) naming the field.
  int FieldIndex(std::string_view name) const;

  // --- Cursor
  long RecordCount() const;
  bool IsBOF() const;
  bool IsEOF() const;
  void MoveFirst();
  void MoveLast();
  void MoveNext();                      // throws at EOF
  void MovePrevious();                  // throws at BOF
  Bookmark GetBookmark() const;         // throws without a current row
  void SetBookmark(Bookmark bookmark);  // throws for a deleted or filtered-out row
  // 1-based position among the visible rows; -1 at BOF/EOF or without a current row.
  long AbsolutePosition() const;
  void SetAbsolutePosition(long position);
  bool HasCurrentRow() const;

  // --- Field access on the current row
  const Value& GetValue(std::string_view field) const;
  const Value& GetValue(int fieldIndex) const;
  // Converts the value to the column's type (a text into a numeric column is read as a
  // number; a blank text becomes null). Throws if there is no current row.
  void SetValue(std::string_view field, Value value);
  void SetValue(int fieldIndex, Value value);
  // The value as text; null reads as the empty text.
  std::string GetText(std::string_view field) const;

  // --- Random access for grids: the visible row at a 0-based position, without moving
  // the cursor.
  Bookmark BookmarkAt(long index) const;
  const Value& ValueAt(long index, int fieldIndex) const;
  // 0-based visible position of a bookmark; -1 if the row is not visible.
  long IndexOf(Bookmark bookmark) const;

  // --- Editing
  void AddNew();
  void Update();
  void CancelUpdate();  // after AddNew: removes the new row
  bool EditMode() const;
  void Delete();
  void UpdateBatch();

  // --- Searching
  // From the current row (or, with `start`, from that bookmark), skipping `skipRecords`
  // rows first, looks for the first visible row that meets the criterion, in the given
  // direction. Found: that row becomes current and the answer is true. Not found: the
  // cursor goes to EOF (forward) or BOF (backward) and the answer is false. From BOF a
  // forward search starts at the first row, from EOF a backward one at the last; an empty
  // set finds nothing. A `start` that is deleted or hidden by the filter throws.
  bool Find(std::string_view criterion, long skipRecords = 0,
            SearchDirection direction = SearchDirection::Forward);
  bool Find(std::string_view criterion, long skipRecords, SearchDirection direction,
            Bookmark start);

  // Shows only the rows that meet the criterion; the empty text clears the filter. The
  // cursor moves to the first visible row. A bad criterion leaves the old filter in force.
  void SetFilter(std::string_view criterion);
  void ClearFilter() { SetFilter(""); }
  const std::string& Filter() const;

  // Orders the visible rows: "FIELD [ASC|DESC][, FIELD [ASC|DESC]]...". The empty text
  // restores the order of insertion. Nulls sort first, texts ignore letter case, and rows
  // with equal keys keep their order of insertion. The cursor keeps its row. An unknown
  // field or a malformed key throws and leaves the old sort.
  void SetSort(std::string_view sort);
  const std::string& Sort() const;

  // A record set over the same rows with its own cursor (at the first row), no filter and
  // no sort.
  std::shared_ptr<Recordset> Clone() const;

  // A deep copy: its own rows, the visible rows of this one in their current order.
  std::shared_ptr<Recordset> Copy() const;

  // --- Building from whole rows: no per-cell conversion, for answers read in bulk. Each row
  // holds one value per field, each null or of its field's type (ValueForField converts one
  // as SetValue would). The cursor is on the first row.

  // A record set owning `rows`. A row of the wrong width or a value of another type throws
  // PlatformError naming the row and field.
  static std::shared_ptr<Recordset> FromRows(std::vector<FieldDef> fields,
                                             std::vector<std::vector<Value>> rows);

  // The same rows frozen for sharing; checked as FromRows checks them.
  static std::shared_ptr<const SharedRows> Share(std::vector<FieldDef> fields,
                                                 std::vector<std::vector<Value>> rows);
  // A record set over shared rows. It reads them in place and copies them on its first
  // change (value, new row, deletion), so no change made through it (or its clones) reaches
  // the shared rows or any other record set over them. Costs one allocation or so, however
  // many rows there are, until that first change.
  static std::shared_ptr<Recordset> Over(std::shared_ptr<const SharedRows> rows);

 private:
  explicit Recordset(std::shared_ptr<detail::RecordTable> table);

  // The view (visible rows in order) depends on the table's row list only, or, with a filter
  // or sort, on its values too; it is rebuilt lazily when the relevant version moved on.
  std::uint64_t RelevantVersion() const;
  bool ViewIsFresh() const { return mViewVersion == RelevantVersion(); }
  void RefreshView() const;
  void InvalidateView() { mViewVersion = kStaleView; }
  // Table index of a live row with this bookmark, or -1.
  long RowOf(Bookmark bookmark) const;
  // Visible position of a table row, or -1.
  long ViewIndexOfRow(std::size_t row) const;
  // Table index of the live current row; throws (no current row) otherwise.
  std::size_t CurrentRowIndex() const;
  // Visible position of the current row, or -1 when the cursor is not on a visible row;
  // keeps mPositionHint up to date.
  long CurrentViewIndex() const;
  // Where a move or search continues when the cursor stands on a row that is gone or hidden:
  // the position of the row that followed it.
  long FollowingPosition() const;
  void MoveToViewIndex(long index);
  void MoveBeforeFirst();
  void MoveAfterLast();
  void EndEdit();
  // Takes a live row out of the table (and out of this record set's view, cheaply).
  void RemoveRow(std::size_t row);
  void Pin(Bookmark bookmark);
  bool IsPinned(Bookmark bookmark) const;
  const detail::CompiledCriterion& FindCriterion(std::string_view criterion);
  bool FindFrom(const detail::CompiledCriterion& criterion, long start, SearchDirection direction);

  static constexpr std::uint64_t kStaleView = ~std::uint64_t{0};

  std::shared_ptr<detail::RecordTable> mTable;  // shared with clones; never null
  std::string mFilterText;
  std::shared_ptr<const detail::CompiledCriterion> mFilter;
  // Rows added or edited through this record set while a filter is in force: they stay
  // visible until the filter is set again, so a row being written does not vanish under the
  // writer. Sorted bookmarks.
  std::vector<Bookmark> mPinned;
  std::string mSortText;
  std::vector<std::pair<int, bool>> mSortKeys;  // field index, descending
  // Visible rows as indices into the table, rebuilt when mViewVersion falls behind.
  // Without a sort they are in table order (ascending indices).
  mutable std::vector<std::size_t> mView;
  mutable std::uint64_t mViewVersion = kStaleView;
  // Table index -> visible position, for sorted views only; built on demand.
  mutable std::vector<long> mViewPositions;
  mutable bool mViewPositionsValid = false;
  // Cursor: on a row (mCurrent; the row may since have been deleted or hidden), or before
  // the first / after the last visible row.
  enum class CursorState { OnRow, BeforeFirst, AfterLast };
  CursorState mCursorState = CursorState::BeforeFirst;
  Bookmark mCurrent = 0;
  // Last known visible position of the current row (see FollowingPosition).
  mutable long mPositionHint = 0;
  // Open edit: the row, whether AddNew made it, and its values before the edit.
  bool mEditing = false;
  bool mEditIsNew = false;
  Bookmark mEditRow = 0;
  std::vector<Value> mEditOriginal;
  // Cursor before AddNew, restored by CancelUpdate.
  CursorState mStateBeforeAdd = CursorState::BeforeFirst;
  Bookmark mCurrentBeforeAdd = 0;
  // The last Find criterion, compiled: screens call Find with the same text row after row.
  std::shared_ptr<const detail::CompiledCriterion> mLastFind;
};

}  // namespace fm
