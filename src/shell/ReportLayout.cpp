#include "shell/ReportLayout.h"

#include <fmt/format.h>

#include <algorithm>
#include <numeric>

namespace fm::shell {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    const auto end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The longest start of `word` that fits `width`, one character at least (a UTF-8
// sequence is never cut).
std::size_t FittingPrefix(const std::string& word, int width, TextStyle style,
                          const TextMeasure& measure) {
  std::size_t best = 0;
  for (std::size_t end = 1; end <= word.size(); ++end) {
    if (end < word.size() && (static_cast<unsigned char>(word[end]) & 0xC0) == 0x80) continue;
    if (best > 0 && measure.Width(word.substr(0, end), style) > width) break;
    best = end;
  }
  return best;
}

int WidestWord(const std::string& text, TextStyle style, const TextMeasure& measure) {
  int widest = 0;
  for (const auto& line : Split(text, '\n')) {
    for (const auto& word : Split(line, ' ')) widest = std::max(widest, measure.Width(word, style));
  }
  return widest;
}

int WidestLine(const std::string& text, TextStyle style, const TextMeasure& measure) {
  int widest = 0;
  for (const auto& line : Split(text, '\n')) widest = std::max(widest, measure.Width(line, style));
  return widest;
}

// Lays the blocks out page by page.
class Layout {
 public:
  Layout(const PageGeometry& page, const TextMeasure& measure)
      : mPage(page),
        mMeasure(measure),
        mLine(measure.LineHeight(TextStyle::Body)),
        // The footer line and a line's space above it.
        mContent(std::max(page.height - 2 * mLine, mLine)) {
    mPages.emplace_back();
  }

  void Place(const std::vector<ReportBlock>& blocks) {
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const ReportBlock& block = blocks[i];
      const int index = static_cast<int>(i);
      if (block.kind == ReportBlock::Kind::Paragraph) {
        const int next = block.keepWithNext && i + 1 < blocks.size() ? FirstPart(blocks[i + 1]) : 0;
        PlaceParagraph(block, index, next);
      } else {
        PlaceTable(block.table, index);
      }
      mY += block.spaceAfter * mMeasure.LineHeight(block.style);
    }
  }

  std::vector<ReportPage> Finish(const std::string& footer) {
    const int count = static_cast<int>(mPages.size());
    const int y = mPage.height - mLine;
    for (int n = 0; n < count; ++n) {
      auto& texts = mPages[static_cast<std::size_t>(n)].texts;
      if (!footer.empty()) texts.push_back({0, y, mPage.width, TextStyle::Body, footer});
      PlacedText number{0, y, mPage.width, TextStyle::Body,
                        fmt::format("Page {} of {}", n + 1, count)};
      number.alignRight = true;
      texts.push_back(number);
    }
    return std::move(mPages);
  }

 private:
  struct Row {
    std::vector<std::vector<std::string>> lines;  // per column
    int lineCount = 1;
    bool defect = false;
  };
  struct Columns {
    std::vector<int> x;
    std::vector<int> width;
    std::vector<bool> numeric;
  };

  int Room() const { return mContent - mY; }
  void NewPage() {
    mPages.emplace_back();
    mY = 0;
  }
  ReportPage& Current() { return mPages.back(); }

  int ParagraphHeight(const ReportBlock& block) const {
    return static_cast<int>(WrapText(block.text, mPage.width, block.style, mMeasure).size()) *
           mMeasure.LineHeight(block.style);
  }

  // What must stand on one page with a block kept with it: a paragraph whole, a table's
  // headings and first row.
  int FirstPart(const ReportBlock& block) const {
    if (block.kind == ReportBlock::Kind::Paragraph) return ParagraphHeight(block);
    const Columns columns = ColumnsOf(block.table);
    int height = RowHeight(HeadingRow(block.table, columns));
    if (!block.table.rows.empty()) height += RowHeight(BodyRow(block.table.rows[0], columns));
    return height;
  }

  void PlaceParagraph(const ReportBlock& block, int index, int keptWith) {
    const auto lines = WrapText(block.text, mPage.width, block.style, mMeasure);
    const int line = mMeasure.LineHeight(block.style);
    const int height = static_cast<int>(lines.size()) * line;
    const int needed = height + keptWith;
    // A paragraph that fits a page is never split; one that does not goes line by line.
    if (mY > 0 && needed > Room() && std::min(needed, mContent) > Room() && height <= mContent) {
      NewPage();
    }
    for (const auto& text : lines) {
      if (mY > 0 && line > Room()) NewPage();
      Current().texts.push_back({0, mY, mPage.width, block.style, text, false, false, index, -2});
      mY += line;
    }
  }

  Columns ColumnsOf(const ReportTable& table) const {
    Columns columns;
    columns.width = ColumnWidths(table, mPage.width, mPage.padding, mMeasure);
    int x = 0;
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      columns.x.push_back(x);
      x += columns.width[c];
      columns.numeric.push_back(table.columns[c].numeric);
    }
    return columns;
  }

  int Inner(const Columns& columns, std::size_t c) const {
    return std::max(columns.width[c] - 2 * mPage.padding, 1);
  }

  Row HeadingRow(const ReportTable& table, const Columns& columns) const {
    Row row;
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      row.lines.push_back(
          WrapText(table.columns[c].heading, Inner(columns, c), TextStyle::Bold, mMeasure));
      row.lineCount = std::max(row.lineCount, static_cast<int>(row.lines.back().size()));
    }
    return row;
  }

  Row BodyRow(const ReportTable::Row& source, const Columns& columns) const {
    Row row;
    row.defect = source.defect;
    for (std::size_t c = 0; c < columns.width.size(); ++c) {
      const std::string cell = c < source.cells.size() ? source.cells[c] : std::string();
      row.lines.push_back(columns.numeric[c]
                              ? std::vector<std::string>{cell}
                              : WrapText(cell, Inner(columns, c), TextStyle::Body, mMeasure));
      row.lineCount = std::max(row.lineCount, static_cast<int>(row.lines.back().size()));
    }
    return row;
  }

  int RowHeight(const Row& row) const { return row.lineCount * mLine + 2 * mPage.padding; }

  // Lines [first, first + count) of the row at the cursor.
  void PlaceRowPart(const Row& row, const Columns& columns, int first, int count, bool heading,
                    int block, int index) {
    const int height = count * mLine + 2 * mPage.padding;
    for (std::size_t c = 0; c < columns.width.size(); ++c) {
      Current().cells.push_back({columns.x[c], mY, columns.width[c], height, heading, row.defect});
      const auto& lines = row.lines[c];
      for (int l = first; l < first + count && l < static_cast<int>(lines.size()); ++l) {
        PlacedText text{columns.x[c] + mPage.padding,
                        mY + mPage.padding + (l - first) * mLine,
                        Inner(columns, c),
                        heading ? TextStyle::Bold : TextStyle::Body,
                        lines[static_cast<std::size_t>(l)],
                        columns.numeric[c],
                        row.defect,
                        block,
                        index};
        Current().texts.push_back(std::move(text));
      }
    }
    mY += height;
  }

  void PlaceTable(const ReportTable& table, int block) {
    const Columns columns = ColumnsOf(table);
    const Row heading = HeadingRow(table, columns);
    const int headingHeight = RowHeight(heading);
    std::vector<Row> rows;
    for (const auto& source : table.rows) rows.push_back(BodyRow(source, columns));
    const int first = rows.empty() ? 0 : RowHeight(rows.front());
    if (mY > 0 && headingHeight + first > Room()) NewPage();
    PlaceRowPart(heading, columns, 0, heading.lineCount, true, block, -1);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const Row& row = rows[r];
      const int index = static_cast<int>(r);
      if (RowHeight(row) > Room() && RowHeight(row) <= mContent - headingHeight) {
        NewPage();
        PlaceRowPart(heading, columns, 0, heading.lineCount, true, block, -1);
      }
      // A row taller than a page: as many of its lines as each page holds.
      int line = 0;
      while (line < row.lineCount) {
        int fit = (Room() - 2 * mPage.padding) / mLine;
        if (fit < 1 && mY > headingHeight) {
          NewPage();
          PlaceRowPart(heading, columns, 0, heading.lineCount, true, block, -1);
          fit = (Room() - 2 * mPage.padding) / mLine;
        }
        const int count = std::clamp(fit, 1, row.lineCount - line);
        PlaceRowPart(row, columns, line, count, false, block, index);
        line += count;
      }
    }
  }

  const PageGeometry& mPage;
  const TextMeasure& mMeasure;
  const int mLine;
  const int mContent;  // the height above the footer
  std::vector<ReportPage> mPages;
  int mY = 0;
};

}  // namespace

ReportBlock ReportBlock::Paragraph(std::string text, TextStyle style, bool keepWithNext,
                                   int spaceAfter) {
  ReportBlock block;
  block.text = std::move(text);
  block.style = style;
  block.keepWithNext = keepWithNext;
  block.spaceAfter = spaceAfter;
  return block;
}

ReportBlock ReportBlock::Table(ReportTable table, int spaceAfter) {
  ReportBlock block;
  block.kind = Kind::Table;
  block.table = std::move(table);
  block.spaceAfter = spaceAfter;
  return block;
}

std::vector<std::string> WrapText(const std::string& text, int width, TextStyle style,
                                  const TextMeasure& measure) {
  std::vector<std::string> lines;
  for (const auto& paragraph : Split(text, '\n')) {
    std::string line;
    for (std::string word : Split(paragraph, ' ')) {
      if (word.empty()) continue;
      if (!line.empty()) {
        std::string longer = line;
        longer.append(1, ' ').append(word);
        if (measure.Width(longer, style) <= width) {
          line = std::move(longer);
          continue;
        }
      }
      if (!line.empty()) lines.push_back(std::move(line));
      line.clear();
      while (measure.Width(word, style) > width) {
        const std::size_t cut = FittingPrefix(word, width, style, measure);
        if (cut >= word.size()) break;
        lines.push_back(word.substr(0, cut));
        word.erase(0, cut);
      }
      line = std::move(word);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<int> ColumnWidths(const ReportTable& table, int width, int padding,
                              const TextMeasure& measure) {
  const std::size_t count = table.columns.size();
  std::vector<int> least(count);
  std::vector<int> wanted(count);
  for (std::size_t c = 0; c < count; ++c) {
    const auto& column = table.columns[c];
    least[c] = WidestWord(column.heading, TextStyle::Bold, measure);
    wanted[c] = WidestLine(column.heading, TextStyle::Bold, measure);
    for (const auto& row : table.rows) {
      const std::string cell = c < row.cells.size() ? row.cells[c] : std::string();
      const int whole = WidestLine(cell, TextStyle::Body, measure);
      least[c] =
          std::max(least[c], column.numeric ? whole : WidestWord(cell, TextStyle::Body, measure));
      wanted[c] = std::max(wanted[c], whole);
    }
    least[c] += 2 * padding;
    wanted[c] += 2 * padding;
  }
  const int leastSum = std::accumulate(least.begin(), least.end(), 0);
  const int wantedSum = std::accumulate(wanted.begin(), wanted.end(), 0);
  if (count == 0 || leastSum >= width) return least;
  std::vector<int> widths = wanted;
  if (wantedSum <= width) {
    // Everything on one line: what is left widens the widest text column.
    std::size_t widest = count - 1;
    for (std::size_t c = 0; c < count; ++c) {
      if (!table.columns[c].numeric &&
          (table.columns[widest].numeric || wanted[c] > wanted[widest]))
        widest = c;
    }
    widths[widest] += width - wantedSum;
    return widths;
  }
  // Each column gets its least width; the rest is poured out evenly, a column taking no more
  // than it wants, so that short columns stand on one line and the long ones share what is
  // left by how much more they want.
  widths = least;
  int room = width - leastSum;
  std::vector<std::size_t> wanting;
  for (std::size_t c = 0; c < count; ++c) {
    if (wanted[c] > least[c]) wanting.push_back(c);
  }
  bool filled = true;
  while (filled && !wanting.empty()) {
    filled = false;
    const int share = room / static_cast<int>(wanting.size());
    for (auto it = wanting.begin(); it != wanting.end();) {
      const int need = wanted[*it] - widths[*it];
      if (need > share) {
        ++it;
        continue;
      }
      widths[*it] += need;
      room -= need;
      it = wanting.erase(it);
      filled = true;
    }
  }
  long long asked = 0;
  for (std::size_t c : wanting) asked += wanted[c] - widths[c];
  int given = 0;
  for (std::size_t c : wanting) {
    const int share =
        static_cast<int>(static_cast<long long>(room) * (wanted[c] - widths[c]) / asked);
    widths[c] += share;
    given += share;
  }
  if (!wanting.empty()) widths[wanting.back()] += room - given;
  return widths;
}

std::vector<ReportPage> LayOutReport(const std::vector<ReportBlock>& blocks,
                                     const PageGeometry& page, const TextMeasure& measure,
                                     const std::string& footer) {
  Layout layout(page, measure);
  layout.Place(blocks);
  return layout.Finish(footer);
}

}  // namespace fm::shell
