// Qt's own texts (the file and folder dialogs, the buttons of message boxes) in the
// language of the chosen language file. A language file names its locale with the key
// "sQtLocale" ("zh_CN"); the matching "qtbase_<locale>.qm" of Qt's translations folder is
// installed on the application. English needs none.
#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>

class TQtTranslations {
 public:
  TQtTranslations() = default;
  // Removes what it installed.
  ~TQtTranslations();
  TQtTranslations(const TQtTranslations&) = delete;
  TQtTranslations& operator=(const TQtTranslations&) = delete;

  // Installs the translation of ALocale (a locale name such as "zh_CN"); false when
  // there is none to install (English, an unknown locale, Qt's translation not installed).
  bool Load(const QString& ALocale);
  // Load() with the locale that the loaded language file names.
  bool LoadForLanguageFile();
  bool Installed() const { return FInstalled; }

 private:
  void Remove();

  QTranslator FQtBase;
  QLocale FPreviousLocale;
  bool FInstalled = false;
};
