#pragma once

#include <QString>
#include <string>
#include <vector>

#include "shell/ReportLayout.h"

class QPagedPaintDevice;
class QWidget;

namespace fm::qt {

// Paints a report on a paged device: the blocks laid out by shell::LayOutReport with the
// fonts measured on that device, table frames ruled, headings shaded and defects in red,
// `footer` and the page number at the foot of every page.
void PaintReport(QPagedPaintDevice& device, const std::vector<shell::ReportBlock>& blocks,
                 const std::string& footer);

// Writes the report as a PDF (US Letter, landscape) to `path`, beside it first and renamed
// over it, so that a reader never finds half of it. A file that cannot be written is said in
// a message box titled `title`; answers whether the file was written.
bool WriteReportPdf(const QString& path, const QString& title,
                    const std::vector<shell::ReportBlock>& blocks, const std::string& footer);

}  // namespace fm::qt
