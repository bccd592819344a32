// The printed report's pages, without a printer: random reports laid out on random pages
// keep the rules of ReportLayout.h. The seed is printed; FM_SEED=<n> repeats a run.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "shell/ReportLayout.h"

namespace fm::shell {
namespace {

// Every character as wide as its style says; lines as high.
class FixedMeasure final : public TextMeasure {
 public:
  int Width(const std::string& text, TextStyle style) const override {
    return static_cast<int>(text.size()) * (style == TextStyle::Body ? 6 : 7);
  }
  int LineHeight(TextStyle style) const override { return style == TextStyle::Title ? 18 : 10; }
};

const char* const kWords[] = {"Beginning", "balance", "Received", "Transferred", "in",    "out",
                              "Form",      "type",    "Delisted", "Reason",      "Ranges"};

std::string Words(std::mt19937& random, int most) {
  std::string text;
  const int count = std::uniform_int_distribution<int>(1, most)(random);
  for (int i = 0; i < count; ++i) {
    text += (i ? " " : "") + std::string(kWords[random() % std::size(kWords)]);
  }
  return text;
}

std::vector<ReportBlock> RandomReport(std::mt19937& random) {
  std::vector<ReportBlock> blocks;
  const int count = std::uniform_int_distribution<int>(1, 6)(random);
  for (int b = 0; b < count; ++b) {
    blocks.push_back(ReportBlock::Paragraph(Words(random, 12), TextStyle::Heading, random() % 2));
    ReportTable table;
    const int columns = std::uniform_int_distribution<int>(2, 6)(random);
    for (int c = 0; c < columns; ++c) table.columns.push_back({Words(random, 2), c % 2 == 1});
    const int rows = std::uniform_int_distribution<int>(0, 30)(random);
    for (int r = 0; r < rows; ++r) {
      ReportTable::Row row;
      for (int c = 0; c < columns; ++c) {
        std::string cell;
        if (c % 2 == 1) {
          cell = std::to_string(random() % 10000000);
        } else {
          const int ranges = std::uniform_int_distribution<int>(0, 12)(random);
          for (int k = 0; k < ranges; ++k) cell += (k ? ", " : "") + std::to_string(1100000 + k);
        }
        row.cells.push_back(cell);
      }
      row.defect = random() % 7 == 0;
      table.rows.push_back(row);
    }
    blocks.push_back(ReportBlock::Table(table));
  }
  return blocks;
}

TEST(ReportLayout, RandomReportsKeepEveryRuleOfAGoodPrint) {
  const char* asked = std::getenv("FM_SEED");
  const unsigned seed =
      asked ? static_cast<unsigned>(std::strtoul(asked, nullptr, 10)) : std::random_device()();
  SCOPED_TRACE("FM_SEED=" + std::to_string(seed));
  std::printf("ReportLayout seed %u\n", seed);
  std::mt19937 random(seed);
  const FixedMeasure measure;
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<ReportBlock> blocks = RandomReport(random);
    // Wide enough for every column's longest word and figure; high enough for rows of a few
    // lines, so that no row needs splitting.
    const PageGeometry page{std::uniform_int_distribution<int>(560, 1200)(random),
                            std::uniform_int_distribution<int>(260, 900)(random), 2};
    const auto pages = LayOutReport(blocks, page, measure, "Report");
    ASSERT_FALSE(pages.empty());

    std::map<std::pair<int, int>, std::set<std::size_t>> pagesOfRow;  // (block, row) -> pages
    std::map<int, std::size_t> pageOfParagraph;
    std::map<int, std::size_t> firstPageOfTable;
    for (std::size_t n = 0; n < pages.size(); ++n) {
      // (block) -> the top of its headings, the top of its first row, the headings' lines
      std::map<int, int> headingTop;
      std::map<int, int> rowTop;
      std::map<int, std::map<int, std::string>> headingLines;  // block -> x -> joined lines
      int footers = 0;
      for (const PlacedText& t : pages[n].texts) {
        EXPECT_LE(measure.Width(t.text, t.style), t.width) << "\"" << t.text << "\" is cut";
        EXPECT_GE(t.x, 0);
        EXPECT_LE(t.x + t.width, page.width);
        EXPECT_LE(t.y + measure.LineHeight(t.style), page.height);
        if (t.block < 0) {
          footers +=
              t.text == "Page " + std::to_string(n + 1) + " of " + std::to_string(pages.size());
          continue;
        }
        EXPECT_LE(t.y + measure.LineHeight(t.style), page.height - 2 * 10) << "under the footer";
        const ReportBlock& block = blocks[static_cast<std::size_t>(t.block)];
        if (t.row == -2) {
          pageOfParagraph[t.block] = n;
        } else if (t.row == -1) {
          headingTop.try_emplace(t.block, t.y);
          std::string& joined = headingLines[t.block][t.x];
          joined += (joined.empty() ? "" : " ") + t.text;
        } else {
          rowTop.try_emplace(t.block, t.y);
          pagesOfRow[{t.block, t.row}].insert(n);
          const auto& row = block.table.rows[static_cast<std::size_t>(t.row)];
          EXPECT_EQ(t.defect, row.defect);
        }
        if (t.row != -2) firstPageOfTable.try_emplace(t.block, n);
      }
      EXPECT_EQ(footers, 1) << "page " << n + 1 << " has no page number";
      // Wherever a table's rows stand, its headings stand above them, each whole.
      for (const auto& [block, top] : rowTop) {
        ASSERT_TRUE(headingTop.contains(block)) << "page " << n + 1 << ": rows without headings";
        EXPECT_LT(headingTop[block], top);
        std::set<std::string> shown;
        for (const auto& [x, joined] : headingLines[block]) shown.insert(joined);
        for (const auto& column : blocks[static_cast<std::size_t>(block)].table.columns) {
          EXPECT_TRUE(shown.contains(column.heading)) << "heading \"" << column.heading << "\"";
        }
      }
    }
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      const int index = static_cast<int>(b);
      const ReportBlock& block = blocks[b];
      if (block.kind != ReportBlock::Kind::Table) continue;
      for (std::size_t r = 0; r < block.table.rows.size(); ++r) {
        const auto found = pagesOfRow.find({index, static_cast<int>(r)});
        ASSERT_NE(found, pagesOfRow.end()) << "row " << r << " of block " << b << " is missing";
        EXPECT_EQ(found->second.size(), 1u) << "row " << r << " of block " << b << " is split";
      }
      // A heading kept with its table stands on the table's first page.
      const ReportBlock& before = blocks[b - 1];
      if (before.keepWithNext) {
        EXPECT_EQ(pageOfParagraph[index - 1], firstPageOfTable[index]) << "block " << b;
      }
    }
  }
}

TEST(ReportLayout, ColumnsFitTheirHeadingsWordsAndFiguresAndShareTheRest) {
  const FixedMeasure measure;
  ReportTable table;
  table.columns = {{"Form type"}, {"Beginning balance", true}, {"Ranges"}};
  table.rows = {{{"ENF001 Citation", "1,234,567", "1100001-1100400, 1100500-1100600"}}};
  // Room for everything on one line: the widest text column takes what is left.
  EXPECT_EQ(ColumnWidths(table, 600, 2, measure), (std::vector<int>{94, 123, 383}));
  // Less room: each column keeps its longest word or figure, the rest is shared out.
  const auto narrow = ColumnWidths(table, 250, 2, measure);
  EXPECT_EQ(narrow[0] + narrow[1] + narrow[2], 250);
  EXPECT_GE(narrow[1], 7 * 9 + 4);   // "Beginning" in bold, and the figure
  EXPECT_GE(narrow[2], 6 * 16 + 4);  // "1100001-1100400,"
  EXPECT_EQ(WrapText("Beginning balance", narrow[1] - 4, TextStyle::Bold, measure),
            (std::vector<std::string>{"Beginning", "balance"}));
  // A short column stands on one line; the long one takes the rest and wraps.
  ReportTable ranges;
  ranges.columns = {{"Line"}, {"Ranges"}};
  std::string many;
  for (int k = 0; k < 20; ++k) many += "1100001-1100400, ";
  ranges.rows = {{{"Beginning balance", many}}};
  EXPECT_EQ(ColumnWidths(ranges, 400, 2, measure), (std::vector<int>{106, 294}));
  // No room even for the words: each keeps its least width, and the table overflows.
  EXPECT_EQ(ColumnWidths(table, 100, 2, measure), (std::vector<int>{52, 67, 100}));
}

TEST(ReportLayout, ARowTallerThanAPageGoesOnBetweenItsLinesUnderRepeatedHeadings) {
  const FixedMeasure measure;
  ReportTable table;
  table.columns = {{"Line"}, {"Ranges"}};
  std::string ranges;
  for (int k = 0; k < 400; ++k) ranges += (k ? ", " : "") + std::to_string(1100000 + 2 * k);
  table.rows = {{{"Ending balance", ranges}}, {{"Issued", "5"}}};
  const auto pages = LayOutReport({ReportBlock::Table(table)}, {500, 200, 2}, measure, "");
  ASSERT_GT(pages.size(), 2u);
  std::string shown;
  for (const auto& page : pages) {
    int column = -1;  // where the Ranges heading, and so its column, stands
    for (const auto& t : page.texts) {
      if (t.row == -1 && t.text == "Ranges") column = t.x;
      if (t.row == 0 && t.x == column) shown += (shown.empty() ? "" : " ") + t.text;
    }
    EXPECT_NE(column, -1) << "a page without the column headings";
  }
  EXPECT_EQ(shown, ranges) << "every range once, in order";
  // A word wider than its room is cut, not lost.
  EXPECT_EQ(WrapText("abcdefghij", 24, TextStyle::Body, measure),
            (std::vector<std::string>{"abcd", "efgh", "ij"}));
}

}  // namespace
}  // namespace fm::shell
