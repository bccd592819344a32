#include "qt/report/DateEntry.h"

#include <QAction>
#include <QCalendarWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QStyle>
#include <QWidgetAction>

namespace fm::qt {

QString DateEntryFormat(const QLocale& locale) {
  QString format = locale.dateFormat(QLocale::ShortFormat);
  format.replace(QRegularExpression(QStringLiteral("(?<!y)yy(?!y)")), QStringLiteral("yyyy"));
  return format;
}

QString DateEntryText(const QDate& date, const QLocale& locale) {
  return locale.toString(date, DateEntryFormat(locale));
}

QDate ReadDateEntry(const QString& text, const QLocale& locale) {
  const QString typed = text.trimmed();
  if (typed.isEmpty()) return {};
  // "d" and "M" read one digit or two, so 7.12.2026 is read as well as 07.12.2026.
  QString lenient = DateEntryFormat(locale);
  lenient.replace(QRegularExpression(QStringLiteral("(?<!d)dd(?!d)")), QStringLiteral("d"));
  lenient.replace(QRegularExpression(QStringLiteral("(?<!M)MM(?!M)")), QStringLiteral("M"));
  QDate date = locale.toDate(typed, lenient);
  if (date.isValid()) return date;
  const QString own = locale.dateFormat(QLocale::ShortFormat);
  date = locale.toDate(typed, own);
  if (date.isValid()) {
    // Qt reads "yy" as 19yy.
    if (!own.contains(QStringLiteral("yyyy")) && date.year() < 2000) date = date.addYears(100);
    return date;
  }
  return QDate::fromString(typed, Qt::ISODate);
}

DateBox::DateBox(QWidget* parent) : QLineEdit(parent) {
  setPlaceholderText(DateEntryFormat(locale()));
  QAction* pick = addAction(style()->standardIcon(QStyle::SP_FileDialogDetailedView),
                            QLineEdit::TrailingPosition);
  pick->setToolTip(tr("Pick the date from a calendar"));
  connect(pick, &QAction::triggered, this, [this] {
    QMenu menu(this);
    auto* calendar = new QCalendarWidget(&menu);
    calendar->setLocale(locale());
    if (Date().isValid()) calendar->setSelectedDate(Date());
    auto* holder = new QWidgetAction(&menu);
    holder->setDefaultWidget(calendar);
    menu.addAction(holder);
    connect(calendar, &QCalendarWidget::clicked, &menu, [this, &menu](const QDate& picked) {
      SetDate(picked);
      menu.close();
    });
    menu.exec(mapToGlobal(rect().bottomLeft()));
  });
  // What the clerk typed, written back in the entry format: the date the box will be read as.
  connect(this, &QLineEdit::editingFinished, this, [this] {
    const QDate date = Date();
    if (date.isValid()) setText(DateEntryText(date, locale()));
  });
}

void DateBox::SetDate(const QDate& date) { setText(DateEntryText(date, locale())); }

QDate DateBox::Date() const { return ReadDateEntry(text(), locale()); }

QString IsoDayText(const std::string& isoDay, const QLocale& locale) {
  const QString text = QString::fromStdString(isoDay);
  const QDate date = QDate::fromString(text, Qt::ISODate);
  return date.isValid() ? DateEntryText(date, locale) : text;
}

}  // namespace fm::qt
