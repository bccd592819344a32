#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/DataSetTemplates.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"

namespace fm {
namespace {

std::vector<FieldDef> SmallLayout() {
  return {{"NAME", FieldType::Text, 20},
          {"QTY", FieldType::Integer, 0},
          {"PRICE", FieldType::Double, 0}};
}

// A record set of NAME/QTY rows in this order; QTY null where given as -1.
std::unique_ptr<Recordset> MakeSet(const std::vector<std::pair<std::string, int>>& rows) {
  auto rs = std::make_unique<Recordset>(SmallLayout());
  for (const auto& [name, qty] : rows) {
    rs->AddNew();
    rs->SetValue("NAME", name);
    if (qty >= 0) rs->SetValue("QTY", qty);
    rs->Update();
  }
  return rs;
}

std::vector<std::string> VisibleNames(const Recordset& rs) {
  std::vector<std::string> names;
  for (long i = 0; i < rs.RecordCount(); ++i) names.push_back(rs.ValueAt(i, 0).ToText());
  return names;
}

std::vector<std::string> WalkNames(Recordset& rs) {
  std::vector<std::string> names;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) names.push_back(rs.GetText("NAME"));
  return names;
}

template <typename F>
PlatformError CaptureError(F&& action) {
  try {
    action();
  } catch (const PlatformError& error) {
    return error;
  }
  ADD_FAILURE() << "expected a PlatformError";
  return PlatformError(0, "");
}

std::int64_t ErrorNumber(const std::function<void()>& action) {
  return CaptureError(action).Number();
}

using Names = std::vector<std::string>;

// --- Values

TEST(Value, DoublesReadInTheirShortestExactFormAndConversionsNameTextAndType) {
  const std::pair<Value, const char*> texts[] = {
      {Value(148.0), "148"},
      {Value(1.5), "1.5"},
      {Value(0.1), "0.1"},
      {Value(-2.25), "-2.25"},
      {Value(-0.0), "0"},
      {Value(1000000.0), "1000000"},  // no exponent for ordinary numbers
      {Value(9999999999.0), "9999999999"},
      {Value(1e21), "1e+21"},
      {Value(std::int64_t{-9223372036854775807} - 1), "-9223372036854775808"},
      {Value(), ""},
  };
  for (const auto& [value, text] : texts) EXPECT_EQ(value.ToText(), text);

  const struct {
    Value from;
    FieldType type;
    Value to;
  } conversions[] = {
      {Value("  42 "), FieldType::Integer, Value(42)},
      {Value("+7"), FieldType::Integer, Value(7)},
      {Value("-0.5"), FieldType::Double, Value(-0.5)},
      {Value("12.0"), FieldType::Integer, Value(12)},
      {Value(""), FieldType::Double, Value()},
      {Value(3), FieldType::Double, Value(3.0)},
      {Value(2.5), FieldType::Text, Value("2.5")},
      {Value(), FieldType::Text, Value()},
  };
  for (const auto& c : conversions) EXPECT_EQ(c.from.ConvertedTo(c.type), c.to) << c.from.ToText();
  const PlatformError error =
      CaptureError([] { (void)Value("12 34").ConvertedTo(FieldType::Double); });
  EXPECT_EQ(error.Number(), PlatformError::kTypeMismatch);
  EXPECT_NE(error.Description().find("'12 34'"), std::string::npos) << error.Description();
  EXPECT_NE(error.Description().find("Double"), std::string::npos) << error.Description();
  EXPECT_THROW((void)Value(1e19).ConvertedTo(FieldType::Integer), PlatformError);
}

// --- Navigation

TEST(RecordsetNavigation, EmptySetIsAtBothEndsAndRefusesMovesAndFieldAccess) {
  Recordset rs(SmallLayout());
  rs.MoveFirst();  // no error on an empty set
  rs.MoveLast();
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_FALSE(rs.HasCurrentRow());
  EXPECT_EQ(rs.AbsolutePosition(), -1);
  EXPECT_EQ(ErrorNumber([&] { rs.MoveNext(); }), PlatformError::kNoCurrentRow);
  EXPECT_EQ(ErrorNumber([&] { rs.MovePrevious(); }), PlatformError::kNoCurrentRow);
  EXPECT_EQ(ErrorNumber([&] { (void)rs.GetValue("NAME"); }), PlatformError::kNoCurrentRow);
  EXPECT_EQ(ErrorNumber([&] { rs.SetValue("NAME", "x"); }), PlatformError::kNoCurrentRow);
  EXPECT_EQ(ErrorNumber([&] { (void)rs.GetBookmark(); }), PlatformError::kNoCurrentRow);
  EXPECT_EQ(ErrorNumber([&] { rs.Delete(); }), PlatformError::kNoCurrentRow);
}

TEST(RecordsetNavigation, RowsWalkToEachEndAndBackWithPositions) {
  auto rs = MakeSet({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
  EXPECT_EQ(WalkNames(*rs), (Names{"a", "b", "c", "d"}));
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_FALSE(rs->IsBOF());
  EXPECT_EQ(rs->AbsolutePosition(), -1);
  EXPECT_THROW(rs->MoveNext(), PlatformError);
  Names backward;
  // From EOF back onto the last row.
  for (rs->MovePrevious(); !rs->IsBOF(); rs->MovePrevious())
    backward.push_back(rs->GetText("NAME"));
  EXPECT_EQ(backward, (Names{"d", "c", "b", "a"}));
  EXPECT_FALSE(rs->IsEOF());
  EXPECT_THROW(rs->MovePrevious(), PlatformError);
  rs->MoveNext();  // from BOF onto the first row
  EXPECT_EQ(rs->GetText("NAME"), "a");
  EXPECT_EQ(rs->AbsolutePosition(), 1);

  rs->SetAbsolutePosition(3);
  EXPECT_EQ(rs->GetText("name"), "c");
  EXPECT_EQ(rs->AbsolutePosition(), 3);
  EXPECT_THROW(rs->SetAbsolutePosition(0), PlatformError);
  EXPECT_THROW(rs->SetAbsolutePosition(5), PlatformError);
  EXPECT_EQ(rs->GetText("NAME"), "c") << "a refused position leaves the cursor";
}

TEST(RecordsetNavigation, GridAccessReadsRowsWithoutMovingTheCursor) {
  auto rs = MakeSet({{"a", 1}, {"b", 2}, {"c", 3}});
  rs->SetAbsolutePosition(2);
  EXPECT_EQ(rs->ValueAt(2, 1), Value(3));
  EXPECT_EQ(rs->IndexOf(rs->BookmarkAt(0)), 0);
  EXPECT_EQ(rs->GetText("NAME"), "b");
  EXPECT_THROW((void)rs->ValueAt(3, 0), PlatformError);
  EXPECT_THROW((void)rs->ValueAt(-1, 0), PlatformError);
  EXPECT_EQ(ErrorNumber([&] { (void)rs->ValueAt(0, 3); }), PlatformError::kItemNotFound);
  EXPECT_THROW((void)rs->BookmarkAt(3), PlatformError);
}

// --- Fields

TEST(RecordsetFields, NamesIgnoreLetterCaseAndWritesAreConvertedToTheColumnType) {
  Recordset rs(SmallLayout());
  EXPECT_EQ(rs.FieldCount(), 3);
  EXPECT_EQ(rs.FindField("qty"), 1);
  EXPECT_EQ(rs.FindField("Price"), 2);
  EXPECT_EQ(rs.FindField("COST"), -1);
  const PlatformError error = CaptureError([&] { (void)rs.FieldIndex("COST"); });
  EXPECT_EQ(error.Number(), PlatformError::kItemNotFound);
  EXPECT_NE(error.Description().find("'COST'"), std::string::npos) << error.Description();

  rs.AddNew();
  // Null is neither the empty text nor zero.
  EXPECT_TRUE(rs.GetValue("NAME").IsNull());
  EXPECT_EQ(rs.GetText("QTY"), "");
  const struct {
    const char* field;
    Value written;
    Value read;
  } writes[] = {
      {"QTY", Value(" 0123 "), Value(std::int64_t{123})},
      {"QTY", Value("9999999999"), Value(std::int64_t{9999999999})},  // ten-digit form numbers
      {"QTY", Value(7.0), Value(7)},
      {"QTY", Value(0), Value(0)},
      {"PRICE", Value("1.5"), Value(1.5)},
      {"PRICE", Value(2), Value(2.0)},
      {"NAME", Value(148), Value("148")},
      {"NAME", Value(148.0), Value("148")},
      {"QTY", Value("   "), Value()},  // a blank text is null in a numeric column
      {"NAME", Value(""), Value("")},  // but stays an empty text in a text column
      {"PRICE", Value::Null(), Value()},
  };
  for (const auto& w : writes) {
    rs.SetValue(w.field, w.written);
    EXPECT_EQ(rs.GetValue(w.field), w.read) << w.field << " <- " << w.written.ToText();
    EXPECT_EQ(rs.GetValue(w.field).IsNull(), w.read.IsNull()) << w.written.ToText();
  }
}

TEST(RecordsetFields, ATextThatIsNoNumberIsRefusedAndLeavesTheRowUnchanged) {
  Recordset rs(SmallLayout());
  rs.AddNew();
  rs.SetValue("QTY", 5);
  for (const char* bad : {"abc", "12abc", "1,000", "0x10", "1.5", "inf"}) {
    const PlatformError error = CaptureError([&] { rs.SetValue("QTY", bad); });
    EXPECT_EQ(error.Number(), PlatformError::kTypeMismatch) << bad;
    EXPECT_NE(error.Description().find(bad), std::string::npos) << error.Description();
    EXPECT_NE(error.Description().find("QTY"), std::string::npos) << error.Description();
    EXPECT_EQ(rs.GetValue("QTY"), Value(5)) << bad;
  }
  EXPECT_EQ(ErrorNumber([&] { rs.SetValue("QTY", "99999999999999999999"); }),
            PlatformError::kOverflow);
  EXPECT_EQ(rs.GetValue("QTY"), Value(5));
}

// --- Editing

TEST(RecordsetEditing, CancelUpdateRemovesAnAddedRowOrRestoresAnEditedOne) {
  auto rs = MakeSet({{"a", 1}, {"b", 2}});
  rs->MoveFirst();
  rs->AddNew();
  EXPECT_TRUE(rs->EditMode());
  EXPECT_EQ(rs->RecordCount(), 3);
  EXPECT_EQ(rs->AbsolutePosition(), 3) << "a new row is last";
  rs->SetValue("NAME", "new");
  rs->CancelUpdate();
  EXPECT_FALSE(rs->EditMode());
  EXPECT_EQ(VisibleNames(*rs), (Names{"a", "b"}));
  EXPECT_EQ(rs->GetText("NAME"), "a") << "the cursor returns to the row before AddNew";

  rs->SetValue("NAME", "changed");
  rs->SetValue("QTY", 10);
  EXPECT_TRUE(rs->EditMode());
  rs->CancelUpdate();
  EXPECT_EQ(rs->GetText("NAME"), "a");
  EXPECT_EQ(rs->GetValue("QTY"), Value(1));

  rs->SetValue("NAME", "kept");
  rs->MoveNext();  // moving off the row ends the edit
  EXPECT_FALSE(rs->EditMode());
  rs->CancelUpdate();  // nothing open: no effect
  EXPECT_EQ(rs->ValueAt(0, 0), Value("kept"));
}

TEST(RecordsetEditing, DeleteLeavesNoCurrentRowUntilTheNextMove) {
  auto rs = MakeSet({{"a", 1}, {"b", 2}, {"c", 3}});
  rs->SetAbsolutePosition(2);
  const auto deleted = rs->GetBookmark();
  rs->Delete();
  EXPECT_FALSE(rs->IsBOF());
  EXPECT_FALSE(rs->IsEOF());
  EXPECT_THROW(rs->Delete(), PlatformError);
  EXPECT_THROW(rs->SetBookmark(deleted), PlatformError);
  rs->MovePrevious();
  EXPECT_EQ(rs->GetText("NAME"), "a") << "the move goes on from the deleted row";
}

TEST(RecordsetEditing, ManyDeletesKeepBookmarksAndOrderOfTheSurvivors) {
  // Enough deletes to make the table drop its dead rows, seen through a clone as well.
  Recordset rs(SmallLayout());
  std::vector<Recordset::Bookmark> marks;
  for (int i = 0; i < 5000; ++i) {
    rs.AddNew();
    rs.SetValue("QTY", i);
    marks.push_back(rs.GetBookmark());
  }
  rs.Update();
  auto clone = rs.Clone();
  clone->SetSort("QTY DESC");
  long visited = 0;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    if (rs.GetValue("QTY").AsInteger() % 5 != 0) rs.Delete();
    ++visited;
  }
  EXPECT_EQ(visited, 5000);
  EXPECT_EQ(rs.RecordCount(), 1000);
  EXPECT_EQ(clone->RecordCount(), 1000);
  for (int i = 0; i < 5000; ++i) {
    const long index = rs.IndexOf(marks[static_cast<std::size_t>(i)]);
    if (i % 5 == 0) {
      ASSERT_EQ(index, i / 5) << i;
      EXPECT_EQ(clone->IndexOf(marks[static_cast<std::size_t>(i)]), 999 - i / 5);
    } else {
      ASSERT_EQ(index, -1) << i;
    }
  }
  rs.AddNew();
  EXPECT_GT(rs.GetBookmark(), marks.back()) << "bookmarks are never reused";
  rs.Update();
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) rs.Delete();
  EXPECT_EQ(rs.RecordCount(), 0) << "deleting every row in a loop ends at EOF";
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_TRUE(rs.IsEOF());
}

// --- Bookmarks

TEST(RecordsetBookmarks, BookmarksFollowTheirRowThroughSortFilterAndClones) {
  auto rs = MakeSet({{"c", 3}, {"a", 1}, {"b", 2}});
  rs->MoveFirst();
  const auto c = rs->GetBookmark();
  rs->SetSort("NAME");
  EXPECT_EQ(rs->GetText("NAME"), "c") << "sorting keeps the cursor on its row";
  EXPECT_EQ(rs->AbsolutePosition(), 3);
  EXPECT_EQ(rs->IndexOf(c), 2);
  rs->MoveFirst();
  rs->SetBookmark(c);
  EXPECT_EQ(rs->GetText("NAME"), "c");

  rs->SetFilter("QTY < 3");
  EXPECT_EQ(rs->IndexOf(c), -1);
  EXPECT_EQ(ErrorNumber([&] { rs->SetBookmark(c); }), PlatformError::kNoCurrentRow);
  rs->ClearFilter();
  rs->SetBookmark(c);
  EXPECT_EQ(rs->GetText("NAME"), "c");
  auto clone = rs->Clone();
  clone->SetBookmark(c);
  EXPECT_EQ(clone->GetText("NAME"), "c") << "bookmarks stay valid in clones";
  EXPECT_THROW(rs->SetBookmark(c + 100), PlatformError);
}

// --- Find

class RecordsetFind : public ::testing::Test {
 protected:
  void SetUp() override { rs = MakeSet({{"x", 1}, {"y", 2}, {"x", 3}, {"z", 4}, {"x", 5}}); }
  std::unique_ptr<Recordset> rs;
};

// A search from the current row (itself the first candidate unless skipped) that either
// finds a row or leaves the cursor at the end it searched toward.
TEST_F(RecordsetFind, FindsTheNextMatchInItsDirectionOrEndsAtEofOrBof) {
  constexpr long kBof = 0;
  constexpr long kEof = 6;
  constexpr long kFar = 1L << 62;
  const auto forward = SearchDirection::Forward;
  const auto backward = SearchDirection::Backward;
  const struct {
    long from;  // 1-based position, kBof or kEof
    const char* criterion;
    long skip;
    SearchDirection direction;
    std::int64_t found;  // QTY of the row found; 0: none
  } cases[] = {
      {1, "NAME = 'X'", 0, forward, 1},     {1, "NAME = 'x'", 1, forward, 3},
      {3, "NAME = 'x'", 1, forward, 5},     {5, "NAME = 'x'", 1, forward, 0},
      {1, "NAME = 'none'", 0, forward, 0},  {kEof, "NAME = 'x'", 0, forward, 0},
      {kBof, "QTY = 2", 0, forward, 2},     {1, "QTY = 2", kFar, forward, 0},
      {5, "QTY = 2", -kFar, forward, 2},  // a negative skip starts at the first row
      {5, "NAME = 'x'", 1, backward, 3},    {3, "NAME = 'z'", 1, backward, 0},
      {kBof, "NAME = 'z'", 0, backward, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "from " << c.from << ": " << c.criterion << ", skip "
                                      << c.skip << (c.direction == forward ? "" : " backward"));
    if (c.from == kBof) {
      rs->MoveFirst();
      rs->MovePrevious();
    } else if (c.from == kEof) {
      rs->MoveLast();
      rs->MoveNext();
    } else {
      rs->SetAbsolutePosition(c.from);
    }
    EXPECT_EQ(rs->Find(c.criterion, c.skip, c.direction), c.found != 0);
    if (c.found != 0) {
      EXPECT_EQ(rs->GetValue("QTY"), Value(c.found));
    } else {
      EXPECT_TRUE(c.direction == forward ? rs->IsEOF() : rs->IsBOF());
    }
  }
  Recordset empty(SmallLayout());
  EXPECT_FALSE(empty.Find("QTY = 2"));
  EXPECT_TRUE(empty.IsEOF());
}

TEST_F(RecordsetFind, StartBookmarkOverridesTheCursor) {
  rs->SetAbsolutePosition(4);
  const auto fourth = rs->GetBookmark();
  rs->MoveFirst();
  ASSERT_TRUE(rs->Find("NAME = 'x'", 0, SearchDirection::Forward, fourth));
  EXPECT_EQ(rs->GetValue("QTY"), Value(5));
  ASSERT_TRUE(rs->Find("NAME = 'x'", 0, SearchDirection::Backward, fourth));
  EXPECT_EQ(rs->GetValue("QTY"), Value(3));
  rs->Delete();
  EXPECT_THROW(rs->Find("NAME = 'x'", 0, SearchDirection::Forward, rs->BookmarkAt(0) + 2),
               PlatformError)
      << "a deleted start row is an error";
}

TEST_F(RecordsetFind, SeesOnlyRowsOfTheFilterInTheSortOrder) {
  rs->SetFilter("QTY > 1");
  rs->SetSort("QTY DESC");
  rs->MoveFirst();
  ASSERT_TRUE(rs->Find("NAME = 'x'"));
  EXPECT_EQ(rs->GetValue("QTY"), Value(5));
  ASSERT_TRUE(rs->Find("NAME = 'x'", 1));
  EXPECT_EQ(rs->GetValue("QTY"), Value(3));
  EXPECT_FALSE(rs->Find("NAME = 'x'", 1)) << "row 1 is filtered out";
}

TEST_F(RecordsetFind, ABadCriterionThrowsAndDoesNotMoveTheCursor) {
  rs->SetAbsolutePosition(2);
  EXPECT_EQ(ErrorNumber([&] { rs->Find("COLOUR = 'x'"); }), PlatformError::kItemNotFound);
  EXPECT_EQ(ErrorNumber([&] { rs->Find("NAME = "); }), PlatformError::kBadCriterion);
  EXPECT_EQ(rs->AbsolutePosition(), 2);
}

// --- Filter

TEST(RecordsetFilter, FilterShowsMatchingRowsAndMovesToTheFirstAndABadOneChangesNothing) {
  auto rs = MakeSet({{"a", 1}, {"b", 2}, {"c", 3}, {"d", -1}});
  rs->MoveLast();
  rs->SetFilter("QTY >= 2");
  EXPECT_EQ(rs->Filter(), "QTY >= 2");
  EXPECT_EQ(VisibleNames(*rs), (Names{"b", "c"}));
  EXPECT_EQ(rs->GetText("NAME"), "b");
  rs->SetFilter("QTY = NULL");
  EXPECT_EQ(VisibleNames(*rs), (Names{"d"}));
  rs->SetFilter("NAME = 'nobody'");
  EXPECT_EQ(rs->RecordCount(), 0);
  EXPECT_TRUE(rs->IsBOF());
  EXPECT_TRUE(rs->IsEOF());
  rs->ClearFilter();
  EXPECT_EQ(rs->Filter(), "");
  EXPECT_EQ(rs->RecordCount(), 4);

  rs->SetFilter("QTY > 1");
  rs->MoveLast();
  EXPECT_THROW(rs->SetFilter("QTY >"), PlatformError);
  EXPECT_THROW(rs->SetFilter("WEIGHT > 1"), PlatformError);
  EXPECT_EQ(rs->Filter(), "QTY > 1") << "a bad filter leaves the old filter and cursor";
  EXPECT_EQ(VisibleNames(*rs), (Names{"b", "c"}));
  EXPECT_EQ(rs->GetText("NAME"), "c");
}

TEST(RecordsetFilter, RowsWrittenThroughTheSetStayVisibleUntilTheFilterIsSetAgain) {
  auto rs = MakeSet({{"a", 1}, {"b", 2}});
  rs->SetFilter("QTY = 1");
  rs->AddNew();  // all null: does not meet the filter, but the writer must see it
  rs->SetValue("NAME", "new");
  EXPECT_EQ(rs->RecordCount(), 2);
  rs->Update();
  EXPECT_EQ(WalkNames(*rs), (Names{"a", "new"}));
  rs->MoveFirst();
  rs->SetValue("QTY", 9);  // edited out of the filter's reach
  EXPECT_EQ(rs->GetText("NAME"), "a");
  EXPECT_EQ(rs->RecordCount(), 2);
  auto clone = rs->Clone();
  ASSERT_TRUE(clone->Find("NAME = 'b'"));
  clone->SetValue("NAME", "b2");  // makes every view over the rows rebuild
  EXPECT_EQ(VisibleNames(*rs), (Names{"a", "new"})) << "still visible after a rebuild";
  rs->SetFilter("QTY = 1");
  EXPECT_EQ(rs->RecordCount(), 0);
}

// --- Sort

TEST(RecordsetSort, SortsByKeysStablyWithNullsFirstRestoresInsertionOrderAndRefusesBadKeys) {
  auto rs = MakeSet({{"b", 2}, {"A", 1}, {"a", 2}, {"c", -1}, {"B", 1}});
  rs->SetSort("name");
  EXPECT_EQ(rs->Sort(), "name");
  EXPECT_EQ(VisibleNames(*rs), (Names{"A", "a", "b", "B", "c"}))
      << "case is ignored and ties keep insertion order";
  rs->SetSort("QTY DESC, NAME ASC");
  EXPECT_EQ(VisibleNames(*rs), (Names{"a", "b", "A", "B", "c"}));
  rs->SetSort("QTY");
  EXPECT_EQ(VisibleNames(*rs), (Names{"c", "A", "B", "b", "a"})) << "nulls sort first";
  rs->SetSort("");
  EXPECT_EQ(VisibleNames(*rs), (Names{"b", "A", "a", "c", "B"}));

  rs->SetSort("QTY");
  EXPECT_EQ(ErrorNumber([&] { rs->SetSort("WEIGHT"); }), PlatformError::kItemNotFound);
  EXPECT_THROW(rs->SetSort("QTY SIDEWAYS"), PlatformError);
  EXPECT_THROW(rs->SetSort("QTY,"), PlatformError);
  EXPECT_EQ(rs->Sort(), "QTY") << "a refused sort keeps the old one";
}

TEST(RecordsetSort, SortFollowsLaterChangesKeepingTheCursorOnItsRow) {
  auto rs = MakeSet({{"a", 3}, {"b", 1}, {"c", 2}});
  rs->SetSort("QTY");
  rs->MoveFirst();
  rs->SetValue("QTY", 10);
  rs->Update();
  EXPECT_EQ(VisibleNames(*rs), (Names{"c", "a", "b"}));
  EXPECT_EQ(rs->GetText("NAME"), "b") << "the cursor stays on the edited row";
  EXPECT_EQ(rs->AbsolutePosition(), 3);
}

// --- Clone and copy

TEST(RecordsetClone, ClonesShareRowsButKeepTheirOwnCursorFilterAndSort) {
  auto rs = MakeSet({{"a", 1}, {"b", 2}, {"c", 3}});
  rs->SetFilter("QTY > 1");
  rs->MoveLast();
  auto clone = rs->Clone();
  EXPECT_EQ(clone->Filter(), "");
  EXPECT_EQ(clone->RecordCount(), 3);
  EXPECT_EQ(clone->GetText("NAME"), "a") << "a clone starts on its first row";
  EXPECT_EQ(rs->GetText("NAME"), "c");

  clone->AddNew();
  clone->SetValue("NAME", "d");
  clone->SetValue("QTY", 4);
  clone->Update();
  EXPECT_EQ(VisibleNames(*rs), (Names{"b", "c", "d"}));

  clone->MoveFirst();
  clone->Find("NAME = 'b'");
  clone->SetValue("QTY", 0);  // now outside the original's filter
  EXPECT_EQ(VisibleNames(*rs), (Names{"c", "d"}));
  EXPECT_EQ(rs->GetText("NAME"), "c");

  clone->MoveFirst();
  clone->Find("NAME = 'c'");
  clone->Delete();
  EXPECT_FALSE(rs->HasCurrentRow()) << "the original's current row was deleted by the clone";
  EXPECT_EQ(ErrorNumber([&] { (void)rs->GetValue("NAME"); }), PlatformError::kNoCurrentRow);
  rs->MoveNext();
  EXPECT_EQ(rs->GetText("NAME"), "d");

  clone->SetSort("QTY DESC");
  EXPECT_EQ(VisibleNames(*clone), (Names{"d", "a", "b"}));
  EXPECT_EQ(rs->Sort(), "");
}

TEST(RecordsetClone, ACopyIsIndependentAndHoldsTheVisibleRowsInOrder) {
  auto rs = MakeSet({{"a", 1}, {"b", 2}, {"c", 3}});
  rs->SetFilter("QTY <> 2");
  rs->SetSort("QTY DESC");
  auto copy = rs->Copy();
  EXPECT_EQ(VisibleNames(*copy), (Names{"c", "a"}));
  EXPECT_EQ(copy->Filter(), "");
  copy->MoveFirst();
  copy->SetValue("NAME", "changed");
  copy->Delete();
  EXPECT_EQ(VisibleNames(*rs), (Names{"c", "a"}));
  rs->ClearFilter();
  EXPECT_EQ(rs->RecordCount(), 3);
  EXPECT_EQ(copy->RecordCount(), 1);
}

// --- Templates

// --- Shared rows: every record set over them reads them, none changes them for the others.

std::vector<std::vector<Value>> SmallRows() {
  return {{Value("bolt"), Value(4), Value(0.5)},
          {Value("nut"), Value(), Value(0.25)},
          {Value("washer"), Value(9), Value()}};
}

TEST(RecordsetSharedRows, ChangesReachTheWriterAndItsClonesButNotTheSharedRows) {
  const auto shared = Recordset::Share(SmallLayout(), SmallRows());
  auto writer = Recordset::Over(shared);
  auto clone = writer->Clone();
  auto other = Recordset::Over(shared);
  const Value& before = writer->ValueAt(0, 0);  // still readable after the change

  writer->SetValue("NAME", "screw");
  writer->Update();
  writer->AddNew();
  writer->SetValue("NAME", "pin");
  writer->MoveLast();
  writer->SetValue("NAME", "rivet");
  writer->CancelUpdate();
  writer->SetBookmark(writer->BookmarkAt(2));
  writer->Delete();
  other->SetFilter("QTY <> NULL");  // a view of its own changes no rows

  const std::vector<std::string> changed = {"screw", "nut", "pin"};
  EXPECT_EQ(VisibleNames(*writer), changed);
  EXPECT_EQ(VisibleNames(*clone), changed);
  EXPECT_EQ(before, Value("bolt"));
  EXPECT_EQ(VisibleNames(*other), (std::vector<std::string>{"bolt", "washer"}));
  EXPECT_EQ(VisibleNames(*Recordset::Over(shared)),
            (std::vector<std::string>{"bolt", "nut", "washer"}));
}

TEST(RecordsetCompiledCriteria, TextsBeyondWhatALayoutKeepsAreStillFoundRight) {
  // More distinct texts than a layout keeps, over record sets sharing it, twice round.
  std::vector<std::vector<Value>> rows;
  for (int n = 0; n < 700; ++n) rows.push_back({Value("r" + std::to_string(n)), Value(n), Value()});
  const auto shared = Recordset::Share(SmallLayout(), rows);
  for (int round = 0; round < 2; ++round) {
    for (int n = 0; n < 700; n += 1 + round) {
      auto rs = Recordset::Over(shared);
      ASSERT_TRUE(rs->Find("QTY = " + std::to_string(n))) << n;
      EXPECT_EQ(rs->GetValue("NAME"), Value("r" + std::to_string(n)));
      rs->SetFilter("QTY >= " + std::to_string(n));
      EXPECT_EQ(rs->RecordCount(), 700 - n);
    }
  }
}

TEST(RecordsetBulk, RowsOfTheWrongWidthOrTypeAreRefusedWithRowAndField) {
  struct Case {
    std::vector<std::vector<Value>> rows;
    const char* message;
  };
  const Case cases[] = {
      {{{Value("a"), Value(1), Value(1.0)}, {Value("b"), Value(2)}}, "Row 2 has 2 values for 3"},
      {{{Value("a"), Value("1"), Value(1.0)}}, "Row 1, field 'QTY'"},
      {{{Value(7), Value(1), Value(1.0)}}, "Row 1, field 'NAME'"},
      {{{Value("a"), Value(1), Value(1)}}, "field 'PRICE'"},
  };
  for (const Case& c : cases) {
    try {
      Recordset::FromRows(SmallLayout(), c.rows);
      ADD_FAILURE() << "accepted rows that should fail with: " << c.message;
    } catch (const PlatformError& error) {
      EXPECT_NE(error.Description().find(c.message), std::string::npos) << error.Description();
    }
    EXPECT_THROW(Recordset::Share(SmallLayout(), c.rows), PlatformError) << c.message;
  }
  auto rs = Recordset::FromRows(SmallLayout(), SmallRows());
  EXPECT_EQ(rs->GetValue("NAME"), Value("bolt")) << "the cursor starts on the first row";
  rs->MoveLast();
  rs->AddNew();
  EXPECT_EQ(rs->RecordCount(), 4);
  EXPECT_GT(rs->GetBookmark(), rs->BookmarkAt(2)) << "new bookmarks follow the bulk rows'";
}

TEST(DataSetTemplates, TheLayoutsKeepTheirNumbersIntegerAndUnknownNamesHaveNone) {
  for (const auto& [layout, integer] :
       {std::pair<const char*, const char*>{"troopform", "FRM_FORM_NBR"}, {"Officer", "INSP_ID"}}) {
    Recordset rs(*TemplateFields(layout));
    EXPECT_EQ(rs.Fields()[static_cast<std::size_t>(rs.FieldIndex(integer))].type,
              FieldType::Integer)
        << layout;
  }
  EXPECT_FALSE(TemplateFields("TROOPFORMS").has_value());
  EXPECT_FALSE(TemplateFields("").has_value());
  Recordset forms(*TemplateFields(kTroopFormTemplate));
  forms.AddNew();
  const std::string longComment(300, 'c');  // a stamped comment may pass the nominal size
  forms.SetValue("TRP_FORM_CMMT_TXT", longComment);
  EXPECT_EQ(forms.GetText("TRP_FORM_CMMT_TXT"), longComment);
}

}  // namespace
}  // namespace fm
