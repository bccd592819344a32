#include "qt/QtText.h"

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

}  // namespace fm::qt
