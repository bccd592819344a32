#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"

namespace fm {

struct FieldDef {
  std::string name;
  FieldType type = FieldType::Text;
  int size = 0;  // longest text a column is meant to hold; 0 = unlimited (not enforced)
};

namespace detail {
struct RecordTable;  // the rows, shared between a record set and its clones
struct CompiledCriterion;
}  // namespace detail

enum class SearchDirection { Forward, Backward };

// An in-memory, typed, ordered table with a cursor: the part of an ADO record set that the
// screen uses.
//
// Positions. The cursor stands on a row, before the first row (BOF) or after the last (EOF);
// an empty record set is at both. Rows are seen through the current filter and sort; the
// `RecordCount` and absolute positions (1-based) count only visible rows.
//
// Bookmarks identify a row for its whole life, whatever filter or sort is in force, and are
// never reused. They stay valid in clones.
//
// Editing. `AddNew` appends a row at once and makes it current; field writes go to the
// current row; `Update` ends the edit. There is no separate pending state: a written value
// is visible to clones immediately, as in a client-side cursor with batch updating, and
// `UpdateBatch` only ends an open edit. `Delete` removes the current row; the cursor then
// stands on no row until it is moved.
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
  bool BOF() const;
  bool EOF() const;
  void MoveFirst();
  void MoveLast();
  void MoveNext();      // throws at EOF
  void MovePrevious();  // throws at BOF
  Bookmark GetBookmark() const;  // throws without a current row
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
  // cursor goes to EOF (forward) or BOF (backward) and the answer is false.
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
  // restores the order of insertion. Nulls sort first. The cursor keeps its row.
  void SetSort(std::string_view sort);
  const std::string& Sort() const;

  // A record set over the same rows with its own cursor (at the first row), no filter and
  // no sort.
  std::shared_ptr<Recordset> Clone() const;

  // A deep copy: its own rows, the visible rows of this one in their current order.
  std::shared_ptr<Recordset> Copy() const;

 private:
  Recordset(std::shared_ptr<detail::RecordTable> table);
  void RefreshView() const;
  long RowOf(Bookmark bookmark) const;
  std::size_t CurrentRowIndex() const;

  std::shared_ptr<detail::RecordTable> mTable;
  std::string mFilterText;
  std::shared_ptr<const detail::CompiledCriterion> mFilter;
  std::string mSortText;
  std::vector<std::pair<int, bool>> mSortKeys;  // field index, descending
  // Visible rows as indices into the table, kept up to date with the table's version.
  mutable std::vector<std::size_t> mView;
  mutable std::uint64_t mViewVersion = ~std::uint64_t{0};
  // Cursor: the current row's bookmark, or BOF/EOF.
  enum class CursorState { OnRow, BeforeFirst, AfterLast, Nowhere };
  mutable CursorState mCursorState = CursorState::BeforeFirst;
  Bookmark mCurrent = 0;
  bool mEditing = false;
};

}  // namespace fm
