#include "qt/report/ReportPrint.h"

#include <fmt/format.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <filesystem>

#include "platform/Services.h"
#include "platform/UiServices.h"
#include "qt/render/QtText.h"

namespace fm::qt {

namespace {

using shell::PlacedCell;
using shell::PlacedText;
using shell::TextStyle;

const QColor kDefect(176, 0, 0);
const QColor kDefectBackground(255, 224, 224);
const QColor kHeadingBackground(232, 232, 232);
const QColor kRule(136, 136, 136);

// The report's fonts measured on the device it is drawn on.
class DeviceMeasure final : public shell::TextMeasure {
 public:
  explicit DeviceMeasure(const QPaintDevice& device) {
    QFont body = QApplication::font();
    body.setPointSizeF(9);
    for (TextStyle style :
         {TextStyle::Body, TextStyle::Bold, TextStyle::Heading, TextStyle::Title}) {
      QFont font = body;
      font.setBold(style != TextStyle::Body);
      if (style == TextStyle::Heading) font.setPointSizeF(11);
      if (style == TextStyle::Title) font.setPointSizeF(15);
      mFonts.push_back(font);
      mMetrics.emplace_back(font, &device);
    }
  }
  int Width(const std::string& text, TextStyle style) const override {
    return mMetrics[Index(style)].horizontalAdvance(ToQString(text));
  }
  int LineHeight(TextStyle style) const override { return mMetrics[Index(style)].lineSpacing(); }
  const QFont& Font(TextStyle style) const { return mFonts[Index(style)]; }

 private:
  static std::size_t Index(TextStyle style) { return static_cast<std::size_t>(style); }
  std::vector<QFont> mFonts;
  std::vector<QFontMetrics> mMetrics;
};

}  // namespace

void PaintReport(QPagedPaintDevice& device, const std::vector<shell::ReportBlock>& blocks,
                 const std::string& footer) {
  const DeviceMeasure measure(device);
  const int line = measure.LineHeight(TextStyle::Body);
  const shell::PageGeometry page{device.width(), device.height(), std::max(line / 4, 1)};
  const auto pages = shell::LayOutReport(blocks, page, measure, footer);
  QPainter painter(&device);
  QPen rule(kRule);
  rule.setWidth(std::max(line / 16, 1));
  for (std::size_t n = 0; n < pages.size(); ++n) {
    if (n > 0) device.newPage();
    for (const PlacedCell& cell : pages[n].cells) {
      const QRect frame(cell.x, cell.y, cell.width, cell.height);
      if (cell.heading || cell.defect) {
        painter.fillRect(frame, cell.heading ? kHeadingBackground : kDefectBackground);
      }
      painter.setPen(rule);
      painter.drawRect(frame);
    }
    for (const PlacedText& text : pages[n].texts) {
      painter.setFont(measure.Font(text.style));
      painter.setPen(text.defect ? kDefect : QColor(Qt::black));
      const Qt::Alignment align =
          (text.alignRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
      painter.drawText(QRect(text.x, text.y, text.width, measure.LineHeight(text.style)),
                       static_cast<int>(align | Qt::TextSingleLine), ToQString(text.text));
    }
  }
}

bool WriteReportPdf(const QString& path, const QString& title,
                    const std::vector<shell::ReportBlock>& blocks, const std::string& footer) {
  const QString partial = path + QStringLiteral(".partial");
  {
    QPdfWriter pdf(partial);
    pdf.setTitle(title);
    pdf.setCreator(QStringLiteral("formsmaint"));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Landscape,
                                  QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter));
    PaintReport(pdf, blocks, footer);
  }
  // QPdfWriter says nothing of a file it could not write: what is on the disk tells.
  std::error_code error;
  const bool written = std::filesystem::file_size(ToStdString(partial), error) > 0 && !error;
  if (written) std::filesystem::rename(ToStdString(partial), ToStdString(path), error);
  if (!written || error) {
    std::filesystem::remove(ToStdString(partial), error);
    Services::Ui().MessageBox(
        fmt::format("The report could not be written to {}.", ToStdString(path)), MsgBoxButtons::Ok,
        MsgBoxIcon::Exclamation, ToStdString(title));
    return false;
  }
  return true;
}

}  // namespace fm::qt
