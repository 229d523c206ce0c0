#include "ui/UWindowTexts.h"

#include "support/uMultiLanguage.h"

QString GetLangText(const char* AKey) {
  if (!FMultiLanguage) return QString();
  return FMultiLanguage->GetStrings(QString::fromLatin1(AKey));
}

QString FormatText(const QString& AFormat, const QStringList& AArgs) {
  QString out;
  out.reserve(AFormat.size());
  qsizetype next = 0;
  for (qsizetype i = 0; i < AFormat.size(); ++i) {
    const QChar c = AFormat[i];
    if (c == QLatin1Char('%') && i + 1 < AFormat.size()) {
      const QChar k = AFormat[i + 1];
      if (k == QLatin1Char('%')) {
        out += QLatin1Char('%');
        ++i;
        continue;
      }
      if ((k == QLatin1Char('s') || k == QLatin1Char('d')) && next < AArgs.size()) {
        out += AArgs[next++];
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}
