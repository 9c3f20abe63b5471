#include "platform/Dialogs.h"

#include <QCoreApplication>

QString ApplicationTitle() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? QStringLiteral("Tallyra") : name;
}

QString QtFilterFromPairs(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    // Qt reads the patterns from the parentheses of the name, so give it the real ones.
    QString name = parts[i];
    const qsizetype open = name.indexOf(QLatin1Char('('));
    if (open >= 0) name = name.left(open).trimmed();
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    entries << QStringLiteral("%1 (%2)").arg(name, patterns);
  }
  return entries.join(QStringLiteral(";;"));
}
