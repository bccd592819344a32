#include "qt/render/QtText.h"

#include <QDateTime>

namespace fm::qt {

int ToWidgetPosition(const QString& text, int characters) {
  int units = 0;
  for (int seen = 0; seen < characters && units < text.size(); ++seen) {
    units += (text.at(units).isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
  }
  return units;
}

int ToModelPosition(const QString& text, int units) {
  int characters = 0;
  for (int at = 0; at < units && at < text.size(); ++characters) {
    at += (text.at(at).isHighSurrogate() && at + 1 < text.size()) ? 2 : 1;
  }
  return characters;
}

QString LocalTimeText(const std::string& utc) {
  const QDateTime time = QDateTime::fromString(ToQString(utc), Qt::ISODateWithMs);
  if (!time.isValid()) return ToQString(utc);
  return time.toLocalTime().toString(QStringLiteral("MM/dd/yyyy hh:mm:ss AP"));
}

}  // namespace fm::qt
