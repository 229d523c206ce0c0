// The multi-language engine: every text the user sees can come from a language file.
//
// The per-user configuration GetAppDataPath() + "/Vyr Player/Language.ini" lists the
// installed languages and the user's choice:
//
//   [Default]   Language=<chosen number, from 1>   Count=<number of languages>
//   [Language]  1=English  2=中文 ...               display names
//   [LangFile]  1=English.ini  2=Chinese.ini ...     files in the Language folder
//   [LangFont<N>]  FontName=  FontSize=  CharSet=    font of language N (all optional)
//
// Language files live in GetDataDir("Language") + "Language/": beside the program, or in
// the installed share/vyrtranscode/ folder. Section "Strings" holds the message
// texts (GetStrings); a section named after a form holds that form's texts:
//
//   Caption=                                   the form's caption
//   <prefix><control>.Caption=                 a control with a caption (a tab page too)
//   <prefix><grid>.Columns[<i>].Title.Caption= title of column i of a data grid
//   <prefix><bar>.Panels[<i>].Text=            panel i of a status bar
//   <menu item>.Caption=                       a menu item at any depth, never prefixed
//
// where the prefix is empty for the form's own components and "<frame>." for each frame
// a component sits in, outer frame first. Without a configuration file the engine loads
// "English.ini"; empty values never replace a text. The program never creates the
// configuration; only SetDefaultLanguage writes it, only SaveFormLangPrototype writes
// "Language/LangPrototype.ini". A write the INI layer refuses raises EIniWriteError.
//
// A language file is read once, when it is loaded (at most the INI layer's read limit),
// and every lookup answers from what was read: the first line of a key in the first of
// the sections of that name, as a search through the file would find it. The
// configuration is read again at each request.
//
// The engine is used from the GUI thread only.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QObject;
class QWidget;
class TIniFile;

// Identifier of IOMVUpdateLanguage, as other products know it.
inline constexpr char IID_IOMVUpdateLanguage[] = "{D4D9EDCB-4037-44FC-AD51-55252B58A9B4}";

// A window that re-reads its texts (through GetStrings) when the language changes.
class IOMVUpdateLanguage {
 public:
  virtual ~IOMVUpdateLanguage() = default;
  virtual void UpdateLanguage() = 0;
};

class TMultiLanguage {
 public:
  // Reads the configuration and loads the chosen language: the language files come from
  // GetDataDir("Language") + "Language/", the configuration is DefaultConfFile().
  TMultiLanguage();
  // The same with an explicit install folder (with or without a trailing "/") and
  // configuration file.
  TMultiLanguage(const std::string& AInstallDir, const std::string& AConfFile);
  ~TMultiLanguage();
  TMultiLanguage(const TMultiLanguage&) = delete;
  TMultiLanguage& operator=(const TMultiLanguage&) = delete;

  // GetAppDataPath() + "/Vyr Player/Language.ini".
  static std::string DefaultConfFile();

  // The text of sIdent in section "Strings" of the loaded language; empty when no
  // language is loaded or the key is missing.
  QString GetStrings(const QString& sIdent) const;
  // Appends the display names of the installed languages (empty names left out).
  void GetLanguageList(QStringList& AList) const;
  // Default/Language of the configuration (0 when missing, or when there is no file).
  int GetDefaultLanguage() const;
  // Chooses language AValue (1 ... Count) and loads its file when that file exists. Does
  // nothing without a configuration file or for a number out of range. Raises
  // EIniWriteError when the configuration cannot be written (nothing changes then).
  void SetDefaultLanguage(int AValue);

  // Windows to refresh on DoUpdateLanguage. The list exists only when a language file was
  // loaded at creation; without it these do nothing. A registered object that is
  // destroyed drops out of the list by itself.
  void RegisterInterfaceList(QObject* AInterf);
  void UnRegisterInterfaceList(QObject* AInterf);
  // Calls UpdateLanguage() of every registered entry that implements IOMVUpdateLanguage,
  // in registration order.
  void DoUpdateLanguage();

  // Applies the loaded language's texts and font to a form and its components.
  void UpdateLanguage(QWidget* AForm);
  // Writes the form's current texts to "Language/LangPrototype.ini" (existing keys are
  // overwritten, other lines kept). Raises EIniWriteError when the file cannot be written.
  void SaveFormLangPrototype(QWidget* AForm);
  // Applies the language font to one control.
  void SetGeneralCtrFont(QWidget* ACtrl) const;

  std::string GetLanguageConfIni() const { return FConfFile; }
  // Install folder + "Language/" + AFileName.
  std::string GetLanguageFileIni(const std::string& AFileName) const;

  // The state the configuration chose (for callers that show it).
  int DefaultLang() const { return FDefaultLang; }
  const QString& FontName() const { return FFontName; }
  int FontSize() const { return FFontSize; }
  int CharSet() const { return FCharSet; }
  bool IsLanguageLoaded() const { return FCurrentLang != nullptr; }
  // Path of the loaded language file; empty when none is loaded.
  std::string CurrentLanguageFile() const;
  bool HasInterfaceList() const { return FInterfaceList != nullptr; }

 private:
  class TLanguageFile;  // a loaded language file: its text and an index of its key lines
  class TSection;       // a form's section of the loaded language file
  class TKeyPrefix;  // the frame prefix of a component's keys

  void LoadFontSettings(const TIniFile& AConf, int ALanguage);

  // Reading side, one per kind of component.
  void GetMenuCaption(const TSection& ASection, QWidget* AMenu);
  void GetPageControlCaption(const TSection& ASection, const TKeyPrefix& APrefix,
                             QWidget* APageControl);
  void GetDBGridCaption(const TSection& ASection, const TKeyPrefix& APrefix, QWidget* AGrid);
  void GetStatusBarCaption(const TSection& ASection, const TKeyPrefix& APrefix,
                           QWidget* AStatusBar);
  void GetFrameCaption(const TSection& ASection, const TKeyPrefix& APrefix, QWidget* AFrame);
  void GetGeneralCtrlCaption(const TSection& ASection, const TKeyPrefix& APrefix, QWidget* ACtrl);

  // Writing side.
  void SetMenuCaption(TIniFile& AIni, const std::string& ASection, QWidget* AMenu);
  void SetMenuItemCaption(TIniFile& AIni, const std::string& ASection, QAction* AItem,
                          std::vector<const QObject*>& AVisited);
  void SetPageControlCaption(TIniFile& AIni, const std::string& ASection, const TKeyPrefix& APrefix,
                             QWidget* APageControl);
  void SetDBGridCaption(TIniFile& AIni, const std::string& ASection, const TKeyPrefix& APrefix,
                        QWidget* AGrid);
  void SetStatusBarCaption(TIniFile& AIni, const std::string& ASection, const TKeyPrefix& APrefix,
                           QWidget* AStatusBar);
  void SetFrameCaption(TIniFile& AIni, const std::string& ASection, const TKeyPrefix& APrefix,
                       QWidget* AFrame);
  void SetGeneralCtrlCaption(TIniFile& AIni, const std::string& ASection, const TKeyPrefix& APrefix,
                             QWidget* ACtrl);

  std::string FLanguageDir;  // install folder + "Language/"
  std::string FConfFile;
  int FDefaultLang = 0;
  QString FFontName;
  int FFontSize = 0;
  int FCharSet = 0;
  std::unique_ptr<TLanguageFile> FCurrentLang;
  std::unique_ptr<std::vector<QPointer<QObject>>> FInterfaceList;
};

// The program's one language engine: created by CreateMultiLanguage before any window
// exists and freed by FreeMultiLanguage at the end (before the windows go). Null outside
// that time.
extern TMultiLanguage* FMultiLanguage;
// Creates (or re-creates) the engine with the default folders.
void CreateMultiLanguage();
// The same with an explicit install folder and configuration file.
void CreateMultiLanguage(const std::string& AInstallDir, const std::string& AConfFile);
void FreeMultiLanguage();
