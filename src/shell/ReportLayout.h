#pragma once

#include <string>
#include <vector>

// The pages of a printed report, worked out without a toolkit: a flow of paragraphs and
// tables laid out on pages of a given size with the measures of the fonts in use, so that
// the rules of a good print are kept and tested without a printer:
//
// - a table's columns are at least as wide as the longest word of their heading and as their
//   widest figure, so a heading wraps between words only and a figure never wraps; the
//   width left over is shared out evenly among the columns whose text would otherwise wrap,
//   none taking more than its text on one line, so short columns stand on one line and the
//   long ones (the ranges) share the rest;
// - a row is never split across pages; it starts a new page instead (only a row taller than
//   a page is split, between its lines);
// - on every page a table continues on, its column headings are repeated above its rows;
// - a paragraph is never split, and one marked "keep with next" (a section's heading) goes
//   to the next page with the start of what follows it;
// - every page has a footer line with the page number ("Page 2 of 5").
//
// Coordinates are in the units of the measure (the paint device's pixels), from the page's
// top left corner inside its margins.
namespace fm::shell {

enum class TextStyle { Body, Bold, Heading, Title };

// The fonts' measures on the device the report is drawn on.
class TextMeasure {
 public:
  virtual ~TextMeasure() = default;
  virtual int Width(const std::string& text, TextStyle style) const = 0;
  virtual int LineHeight(TextStyle style) const = 0;
};

struct ReportTable {
  struct Column {
    std::string heading;
    bool numeric = false;  // figures: right-aligned, never wrapped
  };
  struct Row {
    std::vector<std::string> cells;  // one per column
    bool defect = false;             // shown as a problem (red)
  };
  std::vector<Column> columns;
  std::vector<Row> rows;
};

struct ReportBlock {
  enum class Kind { Paragraph, Table };
  Kind kind = Kind::Paragraph;
  TextStyle style = TextStyle::Body;
  std::string text;  // a paragraph's; "\n" starts a new line
  ReportTable table;
  bool keepWithNext = false;
  int spaceAfter = 0;  // in lines of the block's style

  static ReportBlock Paragraph(std::string text, TextStyle style = TextStyle::Body,
                               bool keepWithNext = false, int spaceAfter = 0);
  static ReportBlock Table(ReportTable table, int spaceAfter = 1);
};

// One line of text where it is drawn: `x` and `width` the room it is aligned in, `y` its
// top. `block` and `row` say what it belongs to: the block's index, and the table row
// (-1 for a table's column headings, -2 for what is not in a table: paragraphs, footers).
struct PlacedText {
  int x = 0;
  int y = 0;
  int width = 0;
  TextStyle style = TextStyle::Body;
  std::string text;
  bool alignRight = false;
  bool defect = false;
  int block = -1;
  int row = -2;
};

// A table cell's frame: shaded for headings, red-tinted for a defect.
struct PlacedCell {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool heading = false;
  bool defect = false;
};

struct ReportPage {
  std::vector<PlacedCell> cells;
  std::vector<PlacedText> texts;
};

struct PageGeometry {
  int width = 0;  // inside the margins
  int height = 0;
  int padding = 0;  // inside a table cell, on each side
};

// The lines `text` takes in `width` (words kept whole; a word wider than the width alone is
// cut where it must be). "\n" ends a line.
std::vector<std::string> WrapText(const std::string& text, int width, TextStyle style,
                                  const TextMeasure& measure);

// The widths of a table's columns in `width` (see above); their sum is `width` when the
// columns' longest words and figures fit in it, more otherwise.
std::vector<int> ColumnWidths(const ReportTable& table, int width, int padding,
                              const TextMeasure& measure);

// The report on pages. `footer` begins every page's footer line ("Accountable Forms Report,
// A1 Capital City"), followed by "Page n of m".
std::vector<ReportPage> LayOutReport(const std::vector<ReportBlock>& blocks,
                                     const PageGeometry& page, const TextMeasure& measure,
                                     const std::string& footer);

}  // namespace fm::shell
