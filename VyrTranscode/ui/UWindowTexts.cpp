#include "ui/UWindowTexts.h"

#include "support/uMultiLanguage.h"

QString GetLangText(const char* AKey) {
  if (!FMultiLanguage) return QString();
  return FMultiLanguage->GetStrings(QString::fromLatin1(AKey));
}
