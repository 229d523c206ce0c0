#include "support/uMultiLanguage.h"

#include <QAction>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string_view>

#include "support/UIniFile.h"
#include "support/uFunctionsLib.h"
#include "support/uUpdateLanguage.h"

using namespace LangToolkit;

namespace {

const char* const SECTION_DEFAULT = "Default";
const char* const SECTION_STRINGS = "Strings";

bool IsFile(const std::string& APath) {
  std::error_code ec;
  return !APath.empty() && std::filesystem::is_regular_file(APath, ec);
}

// Orders text as sections and keys match: ASCII letters without case, other bytes as
// they are.
int CompareNoCase(std::string_view A, std::string_view B) {
  const size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = static_cast<unsigned char>(A[i]), b = static_cast<unsigned char>(B[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return a < b ? -1 : 1;
  }
  return A.size() < B.size() ? -1 : (A.size() > B.size() ? 1 : 0);
}

// The prototype keeps one text per line: a line break inside a caption would end the
// value and turn the rest into lines of their own.
std::string PrototypeValue(const QString& AText) {
  QString value = AText;
  value.replace(QLatin1String("\r\n"), QLatin1String(" "));
  value.replace(QLatin1Char('\n'), QLatin1Char(' '));
  value.replace(QLatin1Char('\r'), QLatin1Char(' '));
  return value.toStdString();
}

void WriteKey(TIniFile& AIni, const std::string& ASection, const QString& AKey,
              const QString& AValue) {
  if (AKey.isEmpty()) return;
  AIni.WriteString(ASection, AKey.toStdString(), PrototypeValue(AValue));
}

// The canonical decimal number a key stands for ("3", not "03" or "+3"), or -1.
long long KeyNumber(const std::string& AKey) {
  if (AKey.empty() || AKey.size() > 18 || AKey[0] == '0') return -1;
  long long n = 0;
  for (char c : AKey) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

// ---- Keys and sections -------------------------------------------------------------

// The text of a language file, read once, and its key lines sorted by section and key
// (without case). Of the lines of one key in sections of one name only the first in the
// file is kept: the line a search through the file finds.
class TMultiLanguage::TLanguageFile {
 public:
  TLanguageFile(std::string APath, std::string AText)
      : FPath(std::move(APath)), FText(std::move(AText)) {
    size_t lines = 0;
    TIniFile::ForEachKeyLine(FText, [&lines](std::string_view, std::string_view, std::string_view) { ++lines; });
    FEntries.reserve(lines);
    TIniFile::ForEachKeyLine(FText, [this](std::string_view ASection, std::string_view AKey,
                                           std::string_view AValue) {
      FEntries.push_back({Span(ASection), Span(AKey), Span(AValue)});
    });
    auto less = [this](const TEntry& A, const TEntry& B) { return Compare(A, B) < 0; };
    auto same = [this](const TEntry& A, const TEntry& B) { return Compare(A, B) == 0; };
    std::stable_sort(FEntries.begin(), FEntries.end(), less);
    FEntries.erase(std::unique(FEntries.begin(), FEntries.end(), same), FEntries.end());
    FEntries.shrink_to_fit();
  }
  static std::unique_ptr<TLanguageFile> Load(const std::string& APath) {
    return std::make_unique<TLanguageFile>(APath, TIniFile(APath).ReadText());
  }

  const std::string& Path() const { return FPath; }
  // The value of the key in the section; empty when there is no such line.
  QString Value(std::string_view ASection, std::string_view AKey) const {
    auto it = std::lower_bound(FEntries.begin(), FEntries.end(), 0,
                               [&](const TEntry& AEntry, int) { return Compare(AEntry, ASection, AKey) < 0; });
    if (it == FEntries.end() || Compare(*it, ASection, AKey) != 0) return QString();
    const std::string_view value = View(it->Value);
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
  }

 private:
  // A part of the text; the INI layer reads at most 1 MiB, so 32 bits hold any offset.
  struct TSpan {
    uint32_t Begin, Size;
  };
  struct TEntry {
    TSpan Section, Key, Value;
  };
  TSpan Span(std::string_view AView) const {
    return {static_cast<uint32_t>(AView.data() - FText.data()), static_cast<uint32_t>(AView.size())};
  }
  std::string_view View(TSpan ASpan) const { return std::string_view(FText).substr(ASpan.Begin, ASpan.Size); }
  int Compare(const TEntry& A, std::string_view ASection, std::string_view AKey) const {
    const int c = CompareNoCase(View(A.Section), ASection);
    return c != 0 ? c : CompareNoCase(View(A.Key), AKey);
  }
  int Compare(const TEntry& A, const TEntry& B) const { return Compare(A, View(B.Section), View(B.Key)); }

  std::string FPath;
  std::string FText;
  std::vector<TEntry> FEntries;
};

// A form's section of the loaded language file.
class TMultiLanguage::TSection {
 public:
  TSection() = default;
  TSection(const TLanguageFile* AFile, std::string AName) : FFile(AFile), FName(std::move(AName)) {}
  QString Value(const QString& AKey) const {
    if (!FFile || AKey.isEmpty()) return QString();
    return FFile->Value(FName, AKey.toStdString());
  }

 private:
  const TLanguageFile* FFile = nullptr;
  std::string FName;
};

class TMultiLanguage::TKeyPrefix {
 public:
  // A prefix without keys stands for components that cannot be named in a language file
  // (inside a frame without a name, or on a form without one).
  explicit TKeyPrefix(bool AHasKeys) : FHasKeys(AHasKeys) {}
  TKeyPrefix Inside(const QString& AFrameName) const {
    TKeyPrefix inner(FHasKeys && !AFrameName.isEmpty());
    inner.FText = FText + AFrameName + QLatin1Char('.');
    return inner;
  }
  // Prefix + name + suffix; empty when the component has no key.
  QString Key(const QString& AName, const QString& ASuffix) const {
    if (!FHasKeys || AName.isEmpty()) return QString();
    return FText + AName + ASuffix;
  }

 private:
  QString FText;
  bool FHasKeys;
};

namespace {

QString ColumnKeySuffix(int AColumn) {
  return QStringLiteral(".Columns[%1].Title.Caption").arg(AColumn);
}

QString PanelKeySuffix(int APanel) { return QStringLiteral(".Panels[%1].Text").arg(APanel); }

const QString CAPTION_SUFFIX = QStringLiteral(".Caption");

}  // namespace

// ---- Creation and choice -----------------------------------------------------------

TMultiLanguage::TMultiLanguage() : TMultiLanguage(GetDataDir("Language"), DefaultConfFile()) {}

TMultiLanguage::TMultiLanguage(const std::string& AInstallDir, const std::string& AConfFile)
    : FConfFile(AConfFile) {
  FLanguageDir = AInstallDir;
  if (!FLanguageDir.empty() && FLanguageDir.back() != '/') FLanguageDir += '/';
  FLanguageDir += "Language/";

  std::string languageFile;
  if (IsFile(FConfFile)) {
    TIniFile conf(FConfFile);
    FDefaultLang = conf.ReadInteger(SECTION_DEFAULT, "Language", -1);
    const int count = conf.ReadInteger(SECTION_DEFAULT, "Count", 0);
    // The configuration names no language: none at all, not even English.
    if (FDefaultLang == -1 || count == 0) return;
    LoadFontSettings(conf, FDefaultLang);
    languageFile =
        GetLanguageFileIni(conf.ReadString("LangFile", std::to_string(FDefaultLang), ""));
  } else {
    languageFile = GetLanguageFileIni("English.ini");
    FDefaultLang = 0;
    FFontName.clear();
    FFontSize = 0;
    FCharSet = 0;
  }
  if (IsFile(languageFile)) {
    FCurrentLang = TLanguageFile::Load(languageFile);
    FInterfaceList = std::make_unique<std::vector<QPointer<QObject>>>();
  }
}

TMultiLanguage::~TMultiLanguage() = default;

std::string TMultiLanguage::DefaultConfFile() {
  return GetAppDataPath() + "/Vyr Player/Language.ini";
}

void TMultiLanguage::LoadFontSettings(const TIniFile& AConf, int ALanguage) {
  const std::string section = "LangFont" + std::to_string(ALanguage);
  FFontName = QString::fromStdString(AConf.ReadString(section, "FontName", ""));
  FFontSize = AConf.ReadInteger(section, "FontSize", 0);
  FCharSet = AConf.ReadInteger(section, "CharSet", -1);
}

std::string TMultiLanguage::GetLanguageFileIni(const std::string& AFileName) const {
  return FLanguageDir + AFileName;
}

std::string TMultiLanguage::CurrentLanguageFile() const {
  return FCurrentLang ? FCurrentLang->Path() : std::string();
}

QString TMultiLanguage::GetStrings(const QString& sIdent) const {
  if (!FCurrentLang) return QString();
  return FCurrentLang->Value(SECTION_STRINGS, sIdent.toStdString());
}

void TMultiLanguage::GetLanguageList(QStringList& AList) const {
  if (!IsFile(FConfFile)) return;
  TIniFile conf(FConfFile);
  const long long count = conf.ReadInteger(SECTION_DEFAULT, "Count", 0);
  // Language 1 ... Count in order, found among the section's keys, so that a huge count
  // costs no more than the keys that are there.
  std::map<long long, std::string> names;
  for (const auto& line : conf.ReadSectionValues("Language")) {
    const long long n = KeyNumber(line.first);
    if (n >= 1 && n <= count) names.emplace(n, line.second);  // the first line of a key counts
  }
  for (const auto& entry : names)
    if (!entry.second.empty()) AList << QString::fromStdString(entry.second);
}

int TMultiLanguage::GetDefaultLanguage() const {
  if (!IsFile(FConfFile)) return 0;
  return TIniFile(FConfFile).ReadInteger(SECTION_DEFAULT, "Language", 0);
}

void TMultiLanguage::SetDefaultLanguage(int AValue) {
  if (!IsFile(FConfFile)) return;
  TIniFile conf(FConfFile);
  if (AValue < 1 || AValue > conf.ReadInteger(SECTION_DEFAULT, "Count", 0)) return;
  conf.WriteInteger(SECTION_DEFAULT, "Language", AValue);
  FDefaultLang = AValue;
  LoadFontSettings(conf, AValue);
  const std::string languageFile =
      GetLanguageFileIni(conf.ReadString("LangFile", std::to_string(AValue), ""));
  // A missing file keeps the language loaded so far.
  if (IsFile(languageFile)) FCurrentLang = TLanguageFile::Load(languageFile);
}

// ---- Refresh list --------------------------------------------------------------------

void TMultiLanguage::RegisterInterfaceList(QObject* AInterf) {
  if (!FInterfaceList || !AInterf) return;
  auto& list = *FInterfaceList;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [](const QPointer<QObject>& p) { return p.isNull(); }),
             list.end());
  if (std::find(list.begin(), list.end(), AInterf) == list.end()) list.emplace_back(AInterf);
}

void TMultiLanguage::UnRegisterInterfaceList(QObject* AInterf) {
  if (!FInterfaceList) return;
  auto& list = *FInterfaceList;
  list.erase(
      std::remove_if(list.begin(), list.end(),
                     [AInterf](const QPointer<QObject>& p) { return p.isNull() || p == AInterf; }),
      list.end());
}

void TMultiLanguage::DoUpdateLanguage() {
  if (!FInterfaceList) return;
  // A window may register or unregister while it refreshes: walk a copy.
  const std::vector<QPointer<QObject>> entries = *FInterfaceList;
  for (const QPointer<QObject>& entry : entries) {
    if (entry.isNull()) continue;
    if (auto* window = dynamic_cast<IOMVUpdateLanguage*>(entry.data())) window->UpdateLanguage();
  }
}

// ---- Applying a language -------------------------------------------------------------

void TMultiLanguage::UpdateLanguage(QWidget* AForm) {
  if (!FCurrentLang || !AForm) return;
  const QString name = ComponentName(AForm);
  const TSection section =
      name.isEmpty() ? TSection() : TSection(FCurrentLang.get(), name.toStdString());
  const TKeyPrefix prefix(!name.isEmpty());

  if (IsForm(AForm)) {
    const QString caption = section.Value(QStringLiteral("Caption"));
    if (!caption.isEmpty()) SetFormCaption(AForm, caption);
  }
  for (QWidget* component : OwnedComponents(AForm)) {
    if (IsMenu(component)) GetMenuCaption(section, component);
    if (IsDataGrid(component)) GetDBGridCaption(section, prefix, component);
    if (IsStatusBar(component)) GetStatusBarCaption(section, prefix, component);
    if (IsFrame(component)) GetFrameCaption(section, prefix, component);
    if (IsControl(component)) GetGeneralCtrlCaption(section, prefix, component);
  }
}

void TMultiLanguage::GetMenuCaption(const TSection& ASection, QWidget* AMenu) {
  std::vector<const QObject*> visited;
  // Depth first over the items; a menu met again on its own path is not walked twice.
  std::function<void(QAction*)> SetMenuItemCaption = [&](QAction* AItem) {
    const QString name = MenuItemName(AItem);
    if (!name.isEmpty()) {
      const QString caption = ASection.Value(name + CAPTION_SUFFIX);
      if (!caption.isEmpty()) LangToolkit::SetMenuItemCaption(AItem, caption);
    }
    const QObject* sub = MenuSubMenu(AItem);
    if (!sub || std::find(visited.begin(), visited.end(), sub) != visited.end()) return;
    visited.push_back(sub);
    for (QAction* item : MenuSubItems(AItem)) SetMenuItemCaption(item);
    visited.pop_back();
  };
  visited.push_back(AMenu);
  for (QAction* item : MenuItems(AMenu)) SetMenuItemCaption(item);
}

void TMultiLanguage::GetPageControlCaption(const TSection& ASection, const TKeyPrefix& APrefix,
                                           QWidget* APageControl) {
  for (QWidget* page : Pages(APageControl)) {
    const QString caption = ASection.Value(APrefix.Key(ComponentName(page), CAPTION_SUFFIX));
    if (!caption.isEmpty()) SetPageCaption(page, caption);
  }
}

void TMultiLanguage::GetDBGridCaption(const TSection& ASection, const TKeyPrefix& APrefix,
                                      QWidget* AGrid) {
  const QString name = ComponentName(AGrid);
  const int columns = GridColumnCount(AGrid);
  for (int i = 0; i < columns; ++i) {
    const QString title = ASection.Value(APrefix.Key(name, ColumnKeySuffix(i)));
    if (!title.isEmpty()) SetGridColumnTitle(AGrid, i, title);
  }
}

void TMultiLanguage::GetStatusBarCaption(const TSection& ASection, const TKeyPrefix& APrefix,
                                         QWidget* AStatusBar) {
  const QString name = ComponentName(AStatusBar);
  const std::vector<QWidget*> panels = StatusPanels(AStatusBar);
  for (size_t i = 0; i < panels.size(); ++i) {
    const QString text = ASection.Value(APrefix.Key(name, PanelKeySuffix(static_cast<int>(i))));
    if (!text.isEmpty()) SetCaption(panels[i], text);
  }
}

void TMultiLanguage::GetFrameCaption(const TSection& ASection, const TKeyPrefix& APrefix,
                                     QWidget* AFrame) {
  const TKeyPrefix inner = APrefix.Inside(ComponentName(AFrame));
  for (QWidget* component : OwnedComponents(AFrame)) {
    if (IsPageControl(component)) GetPageControlCaption(ASection, inner, component);
    if (IsDataGrid(component)) GetDBGridCaption(ASection, inner, component);
    if (IsStatusBar(component)) GetStatusBarCaption(ASection, inner, component);
    if (IsFrame(component)) GetFrameCaption(ASection, inner, component);
    if (IsControl(component)) GetGeneralCtrlCaption(ASection, inner, component);
  }
}

void TMultiLanguage::GetGeneralCtrlCaption(const TSection& ASection, const TKeyPrefix& APrefix,
                                           QWidget* ACtrl) {
  if (HasCaption(ACtrl)) {
    const QString caption = ASection.Value(APrefix.Key(ComponentName(ACtrl), CAPTION_SUFFIX));
    if (!caption.isEmpty()) SetCaption(ACtrl, caption);
  }
  SetGeneralCtrFont(ACtrl);
}

void TMultiLanguage::SetGeneralCtrFont(QWidget* ACtrl) const {
  if (IsControl(ACtrl)) SetControlFont(ACtrl, FFontName, FFontSize, FCharSet);
}

// ---- Writing a prototype ---------------------------------------------------------------

void TMultiLanguage::SaveFormLangPrototype(QWidget* AForm) {
  TIniFile ini(FLanguageDir + "LangPrototype.ini");
  ini.WriteString(SECTION_STRINGS, "MSG_MTINFORMATION", "提示");
  // A form without a name has no section of its own.
  if (!AForm || ComponentName(AForm).isEmpty()) return;
  const std::string section = ComponentName(AForm).toStdString();
  const TKeyPrefix prefix(true);

  if (IsForm(AForm)) WriteKey(ini, section, QStringLiteral("Caption"), FormCaption(AForm));
  for (QWidget* component : OwnedComponents(AForm)) {
    if (IsMenu(component))
      SetMenuCaption(ini, section, component);
    else if (IsPageControl(component))
      SetPageControlCaption(ini, section, prefix, component);
    else if (IsDataGrid(component))
      SetDBGridCaption(ini, section, prefix, component);
    else if (IsStatusBar(component))
      SetStatusBarCaption(ini, section, prefix, component);
    else if (IsFrame(component))
      SetFrameCaption(ini, section, prefix, component);
    else if (IsControl(component))
      SetGeneralCtrlCaption(ini, section, prefix, component);
  }
}

void TMultiLanguage::SetMenuCaption(TIniFile& AIni, const std::string& ASection, QWidget* AMenu) {
  std::vector<const QObject*> visited{AMenu};
  for (QAction* item : MenuItems(AMenu)) SetMenuItemCaption(AIni, ASection, item, visited);
}

void TMultiLanguage::SetMenuItemCaption(TIniFile& AIni, const std::string& ASection, QAction* AItem,
                                        std::vector<const QObject*>& AVisited) {
  const QString name = MenuItemName(AItem);
  if (!name.isEmpty()) WriteKey(AIni, ASection, name + CAPTION_SUFFIX, MenuItemCaption(AItem));
  const QObject* sub = MenuSubMenu(AItem);
  if (!sub || std::find(AVisited.begin(), AVisited.end(), sub) != AVisited.end()) return;
  AVisited.push_back(sub);
  for (QAction* item : MenuSubItems(AItem)) SetMenuItemCaption(AIni, ASection, item, AVisited);
  AVisited.pop_back();
}

void TMultiLanguage::SetPageControlCaption(TIniFile& AIni, const std::string& ASection,
                                           const TKeyPrefix& APrefix, QWidget* APageControl) {
  for (QWidget* page : Pages(APageControl))
    WriteKey(AIni, ASection, APrefix.Key(ComponentName(page), CAPTION_SUFFIX), PageCaption(page));
}

void TMultiLanguage::SetDBGridCaption(TIniFile& AIni, const std::string& ASection,
                                      const TKeyPrefix& APrefix, QWidget* AGrid) {
  const QString name = ComponentName(AGrid);
  const int columns = GridColumnCount(AGrid);
  for (int i = 0; i < columns; ++i)
    WriteKey(AIni, ASection, APrefix.Key(name, ColumnKeySuffix(i)), GridColumnTitle(AGrid, i));
}

void TMultiLanguage::SetStatusBarCaption(TIniFile& AIni, const std::string& ASection,
                                         const TKeyPrefix& APrefix, QWidget* AStatusBar) {
  const QString name = ComponentName(AStatusBar);
  const std::vector<QWidget*> panels = StatusPanels(AStatusBar);
  for (size_t i = 0; i < panels.size(); ++i)
    WriteKey(AIni, ASection, APrefix.Key(name, PanelKeySuffix(static_cast<int>(i))),
             Caption(panels[i]));
}

void TMultiLanguage::SetFrameCaption(TIniFile& AIni, const std::string& ASection,
                                     const TKeyPrefix& APrefix, QWidget* AFrame) {
  const TKeyPrefix inner = APrefix.Inside(ComponentName(AFrame));
  for (QWidget* component : OwnedComponents(AFrame)) {
    if (IsPageControl(component)) SetPageControlCaption(AIni, ASection, inner, component);
    if (IsDataGrid(component)) SetDBGridCaption(AIni, ASection, inner, component);
    if (IsStatusBar(component)) SetStatusBarCaption(AIni, ASection, inner, component);
    if (IsFrame(component)) SetFrameCaption(AIni, ASection, inner, component);
    if (IsControl(component)) SetGeneralCtrlCaption(AIni, ASection, inner, component);
  }
}

void TMultiLanguage::SetGeneralCtrlCaption(TIniFile& AIni, const std::string& ASection,
                                           const TKeyPrefix& APrefix, QWidget* ACtrl) {
  if (HasCaption(ACtrl))
    WriteKey(AIni, ASection, APrefix.Key(ComponentName(ACtrl), CAPTION_SUFFIX), Caption(ACtrl));
}

// ---- The program's engine ------------------------------------------------------------

namespace {
std::unique_ptr<TMultiLanguage> GMultiLanguage;
}  // namespace

TMultiLanguage* FMultiLanguage = nullptr;

void CreateMultiLanguage() {
  CreateMultiLanguage(GetDataDir("Language"), TMultiLanguage::DefaultConfFile());
}

void CreateMultiLanguage(const std::string& AInstallDir, const std::string& AConfFile) {
  FreeMultiLanguage();
  GMultiLanguage = std::make_unique<TMultiLanguage>(AInstallDir, AConfFile);
  FMultiLanguage = GMultiLanguage.get();
}

void FreeMultiLanguage() {
  FMultiLanguage = nullptr;
  GMultiLanguage.reset();
}
