#include "ui/UQtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

#include "support/uFunctionsLib.h"
#include "ui/UWindowTexts.h"

TQtTranslations::~TQtTranslations() { Remove(); }

void TQtTranslations::Remove() {
  if (FInstalled) {
    QCoreApplication::removeTranslator(&FQtBase);
    QLocale::setDefault(FPreviousLocale);
  }
  FInstalled = false;
}

bool TQtTranslations::Load(const QString& ALocale) {
  Remove();
  const QString locale = ALocale.trimmed();
  if (locale.isEmpty() || locale.startsWith(QStringLiteral("en"))) return false;
  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!FQtBase.load(QStringLiteral("qtbase_") + locale, dir)) {
    PrintDebugString("Qt's translation for " + locale.toStdString() + " is not installed in " + dir.toStdString());
    return false;
  }
  FInstalled = QCoreApplication::installTranslator(&FQtBase);
  if (FInstalled) {
    FPreviousLocale = QLocale();
    QLocale::setDefault(QLocale(locale));
  }
  return FInstalled;
}

bool TQtTranslations::LoadForLanguageFile() { return Load(GetLangText("sQtLocale")); }
