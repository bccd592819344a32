#pragma once

#include <QDate>
#include <QLineEdit>
#include <QLocale>
#include <QString>
#include <string>

namespace fm::qt {

// Dates as the clerk types and reads them: the locale's short date format with the year in
// four digits ("M/d/yyyy" in the United States, "dd/MM/yyyy" in Britain, "dd.MM.yyyy" in
// Germany), so that what is shown reads back as the same date. A two-digit year of the
// locale's own format would read back a century off.
QString DateEntryFormat(const QLocale& locale);
QString DateEntryText(const QDate& date, const QLocale& locale);
// The date a clerk typed, blanks around it allowed: in the entry format (day and month with
// or without a leading zero), in the locale's own short format (a two-digit year is of this
// century), or as YYYY-MM-DD; an invalid date for anything else.
QDate ReadDateEntry(const QString& text, const QLocale& locale);
// A day a server sent (YYYY-MM-DD) as the clerk reads it; a text that is no day as it is.
QString IsoDayText(const std::string& isoDay, const QLocale& locale);

// A box for a date: typed in the entry format of the box's locale, shown so again once the
// clerk leaves it, or picked from a calendar (the button at its end). Enter is left to the
// window (it runs what the box is for).
class DateBox final : public QLineEdit {
 public:
  explicit DateBox(QWidget* parent = nullptr);
  void SetDate(const QDate& date);
  // Invalid when the text is not a date.
  QDate Date() const;
};

}  // namespace fm::qt
