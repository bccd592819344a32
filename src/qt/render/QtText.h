#pragma once

#include <QString>
#include <cmath>
#include <string>
#include <string_view>

namespace fm::qt {

// The screen model measures in twips; the desktop draws 15 twips to the pixel.
inline constexpr int kTwipsPerPixel = 15;

inline int Pixels(int twips) {
  return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}
inline int Twips(int pixels) { return pixels * kTwipsPerPixel; }

// The model's texts are UTF-8.
inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToStdString(const QString& text) { return text.toStdString(); }

// The model counts characters (code points); QString counts UTF-16 units. The two differ
// only for characters outside the basic plane, which a clerk may still paste.
int ToWidgetPosition(const QString& text, int characters);
int ToModelPosition(const QString& text, int units);

// A UTC stamp of the server ("2026-11-02T14:05:00.000Z") as the clerk's comment stamps show
// a time, in the workstation's own zone: "11/02/2026 09:05:00 AM". A text that is not a
// stamp is shown as it is.
QString LocalTimeText(const std::string& utc);

}  // namespace fm::qt
