// The language engine: configuration, choice of language, lookups, refresh list, applying
// a language to a form and writing a form's prototype.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>

#include <csignal>
#include <functional>
#include <iterator>
#include <memory>
#include <type_traits>

#include "AllocationMeter.h"
#include "TestSupport.h"
#include "support/UIniFile.h"
#include "support/uFunctionsLib.h"
#include "support/uMultiLanguage.h"
#include "support/uUpdateLanguage.h"

namespace {

class MultiLanguageTest : public ::testing::Test {
 protected:
  std::string LangDir() const { return FInstall.Path() + "/Language"; }
  std::string ConfDir() const { return FAppData.Path() + "/Vyr Player"; }
  std::string ConfFile() const { return ConfDir() + "/Language.ini"; }

  void WriteLang(const std::string& AName, const std::string& AText) {
    ::mkdir(LangDir().c_str(), 0755);
    ASSERT_TRUE(WriteFileBytes(LangDir() + "/" + AName, AText));
  }
  void WriteConf(const std::string& AText) {
    ::mkdir(ConfDir().c_str(), 0755);
    ASSERT_TRUE(WriteFileBytes(ConfFile(), AText));
  }
  std::unique_ptr<TMultiLanguage> Make() {
    return std::make_unique<TMultiLanguage>(FInstall.Path(), TMultiLanguage::DefaultConfFile());
  }

  TTempDir FAppData;
  TScopedEnv FEnv{"APPDATA", FAppData.Path()};
  TTempDir FInstall;
};

// Three languages, the second chosen; files 1 and 2 installed, file 3 missing.
const char* const THREE_LANGUAGES =
    "[Default]\nLanguage=2\nCount=3\n"
    "[Language]\n1=English\n2=中文\n3=Deutsch\n"
    "[LangFile]\n1=English.ini\n2=Chinese.ini\n3=German.ini\n"
    "[LangFont1]\nFontName=Tahoma\nFontSize=9\nCharSet=0\n"
    "[LangFont2]\nFontName=Noto Sans CJK SC\nFontSize=12\nCharSet=134\n"
    "[LangFont3]\nFontName=Arial\n";

class TRefreshCounter : public QObject, public IOMVUpdateLanguage {
 public:
  explicit TRefreshCounter(std::vector<std::string>* ALog, std::string AName)
      : FLog(ALog), FName(std::move(AName)) {}
  void UpdateLanguage() override {
    FLog->push_back(FName);
    if (OnUpdate) OnUpdate();
  }
  std::function<void()> OnUpdate;

 private:
  std::vector<std::string>* FLog;
  std::string FName;
};

template <typename T>
T* Named(QWidget* AParent, const char* AName, const QString& AText = QString()) {
  auto* w = new T(AParent);
  w->setObjectName(AName);
  if constexpr (std::is_base_of_v<QLabel, T> || std::is_base_of_v<QAbstractButton, T>)
    w->setText(AText);
  return w;
}

}  // namespace

TEST_F(MultiLanguageTest, ConfigurationAndLanguageFolderPaths) {
  EXPECT_EQ(TMultiLanguage::DefaultConfFile(), ConfFile());
  auto lang = Make();
  EXPECT_EQ(lang->GetLanguageConfIni(), ConfFile());
  EXPECT_EQ(lang->GetLanguageFileIni("Chinese.ini"), LangDir() + "/Chinese.ini");
  TMultiLanguage withSlash(FInstall.Path() + "/", ConfFile());
  EXPECT_EQ(withSlash.GetLanguageFileIni("x.ini"), LangDir() + "/x.ini");
  TMultiLanguage installed;
  EXPECT_EQ(installed.GetLanguageFileIni("English.ini"), GetInstallDir() + "Language/English.ini");
  EXPECT_EQ(installed.GetLanguageConfIni(), ConfFile());
}

TEST_F(MultiLanguageTest, NoConfigurationAndNoEnglishMeansNoLanguage) {
  auto lang = Make();
  EXPECT_FALSE(lang->IsLanguageLoaded());
  EXPECT_FALSE(lang->HasInterfaceList());
  for (const char* key : {"sConvertOver", "sStop", "", "Caption"})
    EXPECT_EQ(lang->GetStrings(key), "") << key;
  EXPECT_EQ(lang->GetDefaultLanguage(), 0);

  QWidget form;
  form.setObjectName("FmTest");
  form.setWindowTitle("title");
  auto* btn = Named<QPushButton>(&form, "btnGo", "Go");
  lang->UpdateLanguage(&form);
  EXPECT_EQ(form.windowTitle(), "title");
  EXPECT_EQ(btn->text(), "Go");
  EXPECT_FALSE(btn->testAttribute(Qt::WA_SetFont));

  std::vector<std::string> log;
  TRefreshCounter window(&log, "w");
  lang->RegisterInterfaceList(&window);
  lang->DoUpdateLanguage();
  lang->UnRegisterInterfaceList(&window);
  EXPECT_TRUE(log.empty());

  lang->SetDefaultLanguage(1);  // no configuration: nothing, and none is created
  EXPECT_FALSE(FileExists(ConfFile()));
  QStringList list{"kept"};
  lang->GetLanguageList(list);
  EXPECT_EQ(list, QStringList({"kept"}));
}

TEST_F(MultiLanguageTest, NoConfigurationLoadsEnglish) {
  WriteLang("English.ini", "[Strings]\nsConvertOver=Done.\nsEmpty=\n");
  auto lang = Make();
  ASSERT_TRUE(lang->IsLanguageLoaded());
  EXPECT_TRUE(lang->HasInterfaceList());
  EXPECT_EQ(lang->CurrentLanguageFile(), LangDir() + "/English.ini");
  EXPECT_EQ(lang->GetStrings("sConvertOver"), "Done.");
  EXPECT_EQ(lang->GetStrings("SCONVERTOVER"), "Done.");
  EXPECT_EQ(lang->GetStrings("sEmpty"), "");
  EXPECT_EQ(lang->GetStrings("sMissing"), "");
  EXPECT_EQ(lang->DefaultLang(), 0);
  EXPECT_EQ(lang->FontName(), "");
  EXPECT_EQ(lang->FontSize(), 0);
  EXPECT_EQ(lang->CharSet(), 0);

  // The font rule with character set 0 leaves face and size alone.
  QLabel label("x");
  label.setFont(QFont("DejaVu Sans", 11));
  lang->SetGeneralCtrFont(&label);
  EXPECT_EQ(label.font().family(), "DejaVu Sans");
  EXPECT_EQ(label.font().pointSize(), 11);
}

TEST_F(MultiLanguageTest, ChosenLanguageAndItsFont) {
  WriteConf(THREE_LANGUAGES);
  WriteLang("English.ini", "[Strings]\nsStop=Stop\n");
  WriteLang("Chinese.ini", "[Strings]\nsStop=停止转换\n");
  auto lang = Make();
  ASSERT_TRUE(lang->IsLanguageLoaded());
  EXPECT_EQ(lang->CurrentLanguageFile(), LangDir() + "/Chinese.ini");
  EXPECT_EQ(lang->GetStrings("sStop"), "停止转换");
  EXPECT_EQ(lang->DefaultLang(), 2);
  EXPECT_EQ(lang->GetDefaultLanguage(), 2);
  EXPECT_EQ(lang->FontName(), "Noto Sans CJK SC");
  EXPECT_EQ(lang->FontSize(), 12);
  EXPECT_EQ(lang->CharSet(), 134);

  QLabel label("x");
  lang->SetGeneralCtrFont(&label);
  EXPECT_EQ(label.font().family(), "Noto Sans CJK SC");
  EXPECT_EQ(label.font().pointSize(), 12);
}

TEST_F(MultiLanguageTest, ConfigurationThatNamesNoLanguageLoadsNone) {
  WriteLang("English.ini", "[Strings]\nsStop=Stop\n");
  WriteLang("Chinese.ini", "[Strings]\nsStop=停止转换\n");
  struct Case {
    const char* Name;
    const char* Conf;
  } const cases[] = {
      {"language -1", "[Default]\nLanguage=-1\nCount=2\n[LangFile]\n1=English.ini\n"},
      {"count 0", "[Default]\nLanguage=1\nCount=0\n[LangFile]\n1=English.ini\n"},
      {"no Default section", "[LangFile]\n1=English.ini\n"},
      {"language not a number", "[Default]\nLanguage=one\nCount=2\n[LangFile]\n1=English.ini\n"},
      {"chosen file missing",
       "[Default]\nLanguage=2\nCount=2\n[LangFile]\n1=English.ini\n2=Nope.ini\n"},
      {"chosen file not named", "[Default]\nLanguage=2\nCount=2\n[LangFile]\n1=English.ini\n"},
      {"empty file", ""},
  };
  for (const Case& c : cases) {
    WriteConf(c.Conf);
    auto lang = Make();
    EXPECT_FALSE(lang->IsLanguageLoaded()) << c.Name;
    EXPECT_FALSE(lang->HasInterfaceList()) << c.Name;
    EXPECT_EQ(lang->GetStrings("sStop"), "") << c.Name;
  }
}

TEST_F(MultiLanguageTest, LanguageZeroIsAcceptedAtCreation) {
  WriteConf("[Default]\nLanguage=0\nCount=2\n[LangFile]\n0=Zero.ini\n[LangFont0]\nFontSize=7\n");
  WriteLang("Zero.ini", "[Strings]\nsStop=zero\n");
  auto lang = Make();
  EXPECT_EQ(lang->GetStrings("sStop"), "zero");
  EXPECT_EQ(lang->FontSize(), 7);
  EXPECT_EQ(lang->CharSet(), -1);
  EXPECT_EQ(lang->FontName(), "");
}

TEST_F(MultiLanguageTest, OutOfRangeChoiceChangesNothing) {
  WriteConf(THREE_LANGUAGES);
  WriteLang("English.ini", "[Strings]\nsStop=Stop\n");
  WriteLang("Chinese.ini", "[Strings]\nsStop=停止转换\n");
  auto lang = Make();
  for (int value : {0, 4, -1}) {
    lang->SetDefaultLanguage(value);
    EXPECT_EQ(ReadFileBytes(ConfFile()), THREE_LANGUAGES) << value;
    EXPECT_EQ(lang->DefaultLang(), 2) << value;
    EXPECT_EQ(lang->FontSize(), 12) << value;
    EXPECT_EQ(lang->GetStrings("sStop"), "停止转换") << value;
  }
}

TEST_F(MultiLanguageTest, ChoosingALanguageStoresItAndLoadsItsFile) {
  WriteConf(THREE_LANGUAGES);
  WriteLang("English.ini", "[Strings]\nsStop=Stop\n");
  WriteLang("Chinese.ini", "[Strings]\nsStop=停止转换\n");
  auto lang = Make();
  lang->SetDefaultLanguage(1);
  EXPECT_EQ(lang->GetStrings("sStop"), "Stop");
  EXPECT_EQ(lang->DefaultLang(), 1);
  EXPECT_EQ(lang->GetDefaultLanguage(), 1);
  EXPECT_EQ(lang->FontName(), "Tahoma");
  EXPECT_EQ(lang->FontSize(), 9);
  EXPECT_EQ(lang->CharSet(), 0);
  // Only the choice's own line changed.
  std::string expected = THREE_LANGUAGES;
  expected.replace(expected.find("Language=2"), 10, "Language=1");
  EXPECT_EQ(ReadFileBytes(ConfFile()), expected);
}

TEST_F(MultiLanguageTest, MissingChosenFileKeepsTheLanguageButStoresTheChoice) {
  WriteConf(THREE_LANGUAGES);
  WriteLang("Chinese.ini", "[Strings]\nsStop=停止转换\n");
  auto lang = Make();
  lang->SetDefaultLanguage(3);
  EXPECT_EQ(lang->GetStrings("sStop"), "停止转换");
  EXPECT_EQ(lang->CurrentLanguageFile(), LangDir() + "/Chinese.ini");
  EXPECT_EQ(lang->GetDefaultLanguage(), 3);
  EXPECT_EQ(lang->DefaultLang(), 3);
  EXPECT_EQ(lang->FontName(), "Arial");  // the font settings followed the choice
  EXPECT_EQ(lang->FontSize(), 0);
  EXPECT_EQ(lang->CharSet(), -1);
}

TEST_F(MultiLanguageTest, ChoosingLoadsALanguageButCreatesNoRefreshList) {
  WriteConf("[Default]\nLanguage=-1\nCount=2\n[LangFile]\n1=English.ini\n");
  WriteLang("English.ini", "[Strings]\nsStop=Stop\n");
  auto lang = Make();
  EXPECT_FALSE(lang->IsLanguageLoaded());
  lang->SetDefaultLanguage(1);
  EXPECT_EQ(lang->GetStrings("sStop"), "Stop");
  EXPECT_FALSE(lang->HasInterfaceList());
  std::vector<std::string> log;
  TRefreshCounter window(&log, "w");
  lang->RegisterInterfaceList(&window);
  lang->DoUpdateLanguage();
  EXPECT_TRUE(log.empty());
}

TEST_F(MultiLanguageTest, RefusedConfigurationWriteRaisesAndKeepsTheLanguage) {
  WriteConf(THREE_LANGUAGES);
  WriteLang("English.ini", "[Strings]\nsStop=Stop\n");
  WriteLang("Chinese.ini", "[Strings]\nsStop=停止转换\n");
  auto lang = Make();
  // A read-only file (for every user, root included), then a full disk.
  for (const char* refusal : {"read-only", "full disk"}) {
    const bool readOnly = std::string(refusal) == "read-only";
    ::chmod(ConfFile().c_str(), readOnly ? 0444 : 0644);
    std::unique_ptr<TFileSizeLimit> full;
    if (!readOnly) full = std::make_unique<TFileSizeLimit>(8);
    try {
      lang->SetDefaultLanguage(1);
      full.reset();
      ADD_FAILURE() << "no error raised: " << refusal;
    } catch (const EIniWriteError& e) {
      full.reset();
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + ConfFile()) << refusal;
    }
    EXPECT_EQ(lang->GetStrings("sStop"), "停止转换") << refusal;
    EXPECT_EQ(lang->DefaultLang(), 2) << refusal;
    EXPECT_EQ(lang->FontSize(), 12) << refusal;
    EXPECT_EQ(ReadFileBytes(ConfFile()), THREE_LANGUAGES) << refusal;
  }
}

TEST_F(MultiLanguageTest, ConfigurationLargerThan1MiBIsReadInPartAndNeverWritten) {
  const std::string text = std::string(THREE_LANGUAGES) + std::string(IniReadLimit, '\n') + "[Late]\nx=1\n";
  WriteConf(text);
  WriteLang("Chinese.ini", "[Strings]\nsStop=停止转换\n");
  auto lang = Make();
  EXPECT_EQ(lang->GetStrings("sStop"), "停止转换");
  EXPECT_EQ(lang->GetDefaultLanguage(), 2);
  QStringList names;
  lang->GetLanguageList(names);
  EXPECT_EQ(names.size(), 3);
  EXPECT_THROW(lang->SetDefaultLanguage(1), EIniWriteError);
  EXPECT_EQ(ReadFileBytes(ConfFile()), text);
  EXPECT_EQ(lang->DefaultLang(), 2);
}

TEST_F(MultiLanguageTest, LanguageFileIsReadOnceAndLookupsAnswerAsTheFileWould) {
  // Keys in several sections of one name, keys that differ in case only, empty values and
  // keys, blanks, comments, lines before any section and a byte order mark.
  const std::string text =
      "\xEF\xBB\xBFsBefore=outside\n"
      "[Strings]\r\n"
      "sStop = 停止转换 \r\n"
      "SSTOP=second of a key\r\n"
      "; sComment=no\r\n"
      "sEmpty=\r\n"
      "=empty key\r\n"
      "[FmTest]\n"
      "Caption=Test Window\n"
      "btnGo.Caption=Go\n"
      "[strings]\n"
      "sLater=in the second Strings section\n"
      "sstop=third of a key\n"
      "[ Strings ]\n"
      "sBlank=section name with blanks\n"
      "[FMTEST]\n"
      "btnGo.Caption=second section of the form\n"
      "lblA.Caption=A\n";
  WriteLang("English.ini", text);
  auto lang = Make();
  const char* const keys[] = {"sStop", "sstop", "SSTOP", "sComment", "; sComment", "sEmpty", "",
                              "sLater", "sBlank", "sBefore", "sMissing", " sStop", "Caption"};
  std::vector<QString> answers;
  for (const char* key : keys) {
    bool found = false;
    const std::string inFile = TIniFile::ValueFromText(text, "Strings", key, &found);
    answers.push_back(lang->GetStrings(key));
    EXPECT_EQ(answers.back().toStdString(), inFile) << key;
  }
  EXPECT_EQ(answers[0], "停止转换");
  EXPECT_EQ(answers[6], "empty key");
  EXPECT_EQ(answers[7], "in the second Strings section");
  EXPECT_EQ(answers[8], "section name with blanks");

  // The file is not read again: changed and then gone, it still answers the same.
  WriteLang("English.ini", "[Strings]\nsStop=changed\n");
  ::unlink((LangDir() + "/English.ini").c_str());
  for (size_t i = 0; i < std::size(keys); ++i) EXPECT_EQ(lang->GetStrings(keys[i]), answers[i]) << keys[i];
  QWidget form;
  form.setObjectName("FmTest");
  auto* go = Named<QPushButton>(&form, "btnGo", "old");
  auto* label = Named<QLabel>(&form, "lblA", "old");
  lang->UpdateLanguage(&form);
  EXPECT_EQ(form.windowTitle(), "Test Window");
  EXPECT_EQ(go->text(), "Go");
  EXPECT_EQ(label->text(), "A");
}

TEST_F(MultiLanguageTest, HugeLanguageFileCostsTheMemoryOfItsFirstMiB) {
  // Numbered keys up to just past 1 MiB, then a hole up to 100 MB.
  std::string text = "[Strings]\n";
  int keys = 0;
  while (text.size() < IniReadLimit + 4096) text += "sKey" + std::to_string(keys++) + "=Text of a key\n";
  WriteLang("English.ini", text);
  ASSERT_EQ(::truncate((LangDir() + "/English.ini").c_str(), 100'000'000), 0);
  TAllocationMeter meter;
  auto lang = Make();
  EXPECT_EQ(lang->GetStrings("sKey0"), "Text of a key");
  EXPECT_EQ(lang->GetStrings("sKey1000"), "Text of a key");
  EXPECT_EQ(lang->GetStrings("sKey" + QString::number(keys - 1)), "");  // beyond the first MiB
  for (int i = 0; i < 2000; ++i) lang->GetStrings("sKey" + QString::number(i));
  EXPECT_LT(meter.PeakBytes(), 4 * IniReadLimit);
}

TEST_F(MultiLanguageTest, LanguageListAppendsNamesInOrderAndSkipsEmptyOnes) {
  WriteConf(
      "[Default]\nLanguage=1\nCount=4\n[Language]\n3=Deutsch\n1=English\n2=\n5=Beyond\n01="
      "Padded\n");
  auto lang = Make();
  QStringList list{"already"};
  lang->GetLanguageList(list);
  EXPECT_EQ(list, QStringList({"already", "English", "Deutsch"}));
  lang->GetLanguageList(list);  // appends again, never clears
  EXPECT_EQ(list.size(), 5);

  // A huge count costs no more than the names that are there.
  WriteConf("[Default]\nCount=2147483647\n[Language]\n1=English\n2000000000=Far\n");
  QStringList far;
  lang->GetLanguageList(far);
  EXPECT_EQ(far, QStringList({"English", "Far"}));
}

TEST_F(MultiLanguageTest, DefaultLanguageIsReadFromTheFileEachTime) {
  auto lang = Make();
  EXPECT_EQ(lang->GetDefaultLanguage(), 0);
  WriteConf("[Default]\nCount=2\n");
  EXPECT_EQ(lang->GetDefaultLanguage(), 0);
  WriteConf("[Default]\nLanguage=2\nCount=2\n");
  EXPECT_EQ(lang->GetDefaultLanguage(), 2);
}

TEST_F(MultiLanguageTest, RefreshListCallsRegisteredWindowsInOrder) {
  WriteLang("English.ini", "[Strings]\n");
  auto lang = Make();
  std::vector<std::string> log;
  TRefreshCounter a(&log, "a"), b(&log, "b");
  QObject plain;  // registered, but cannot refresh
  auto gone = std::make_unique<TRefreshCounter>(&log, "gone");
  lang->RegisterInterfaceList(&b);
  lang->RegisterInterfaceList(&plain);
  lang->RegisterInterfaceList(gone.get());
  lang->RegisterInterfaceList(&a);
  lang->RegisterInterfaceList(&b);  // already there
  lang->RegisterInterfaceList(nullptr);
  gone.reset();  // a destroyed window drops out
  lang->DoUpdateLanguage();
  EXPECT_EQ(log, (std::vector<std::string>{"b", "a"}));

  log.clear();
  lang->UnRegisterInterfaceList(&b);
  lang->UnRegisterInterfaceList(&b);
  lang->DoUpdateLanguage();
  EXPECT_EQ(log, (std::vector<std::string>{"a"}));

  // A window that registers another and unregisters itself while refreshing.
  log.clear();
  TRefreshCounter late(&log, "late");
  a.OnUpdate = [&] {
    lang->RegisterInterfaceList(&late);
    lang->UnRegisterInterfaceList(&a);
  };
  lang->DoUpdateLanguage();
  EXPECT_EQ(log, (std::vector<std::string>{"a"}));
  log.clear();
  lang->DoUpdateLanguage();
  EXPECT_EQ(log, (std::vector<std::string>{"late"}));
}

TEST_F(MultiLanguageTest, UpdateLanguageCaptionsAFormItsFramesMenusGridsAndStatusBar) {
  WriteLang("English.ini",
            "[Strings]\nsStop=Stop\n"
            "[fmtest]\n"
            "Caption=Test Window\n"
            "BTNTOP.caption=Top\n"
            "btnEmpty.Caption=\n"
            "btnGo.Caption=wrong: not prefixed\n"
            "frmTools.btnGo.Caption=Go\n"
            "frmTools.frmInner.lblDeep.Caption=Deep\n"
            "frmTools.tsOne.Caption=Page One\n"
            "frmTools.dbgInFrame.Columns[0].Title.Caption=In Frame\n"
            "mniOpen.Caption=Open...\n"
            "mnuFile.Caption=File\n"
            "mniPopup.Caption=Popup Item\n"
            "grpBox.Caption=Group\n"
            "btnInGroup.Caption=In Group\n"
            "dbgList.Columns[0].Title.Caption=File Name\n"
            "dbgList.Columns[1].Title.Caption=\n"
            "sbMain.Panels[0].Text=Ready\n"
            "sbMain.Panels[1].Text=Idle\n"
            "[Other]\nbtnTop.Caption=other section\n");
  auto lang = Make();

  QWidget form;
  form.setObjectName("FmTest");
  form.setWindowTitle("old title");
  auto* top = Named<QPushButton>(&form, "btnTop", "old");
  auto* empty = Named<QPushButton>(&form, "btnEmpty", "keep me");
  auto* frame = Named<TFrame>(&form, "frmTools");
  auto* go = Named<QPushButton>(frame, "btnGo", "old");
  auto* inner = Named<TFrame>(frame, "frmInner");
  auto* deep = Named<QLabel>(inner, "lblDeep", "old");
  auto* pages = Named<QTabWidget>(frame, "pcPages");
  auto* page = Named<QWidget>(nullptr, "tsOne");
  pages->addTab(page, "old");
  auto* frameGrid = Named<QTableView>(frame, "dbgInFrame");
  QStandardItemModel frameModel(0, 1);
  frameModel.setHorizontalHeaderLabels({"old"});
  frameGrid->setModel(&frameModel);

  auto* menuBar = Named<QMenuBar>(&form, "mmMain");
  QMenu* file = menuBar->addMenu("old");
  file->setObjectName("mnuFile");
  QMenu* sub = file->addMenu("sub");
  QAction* open = sub->addAction("old");
  open->setObjectName("mniOpen");
  auto* popup = Named<QMenu>(&form, "popVyr");
  QAction* popupItem = popup->addAction("old");
  popupItem->setObjectName("mniPopup");

  auto* group = Named<QGroupBox>(&form, "grpBox");
  auto* inGroup = Named<QPushButton>(group, "btnInGroup", "old");

  auto* grid = Named<QTableView>(&form, "dbgList");
  QStandardItemModel model(0, 2);
  model.setHorizontalHeaderLabels({"old0", "old1"});
  grid->setModel(&model);

  auto* bar = Named<QStatusBar>(&form, "sbMain");
  auto* p0 = new QLabel("p0");
  auto* p1 = new QLabel("p1");
  bar->addWidget(p0);
  bar->addWidget(p1);

  lang->UpdateLanguage(&form);
  EXPECT_EQ(form.windowTitle(), "Test Window");
  EXPECT_EQ(top->text(), "Top");
  EXPECT_EQ(empty->text(), "keep me");
  EXPECT_EQ(go->text(), "Go");
  EXPECT_EQ(deep->text(), "Deep");
  EXPECT_EQ(pages->tabText(0), "Page One");
  EXPECT_EQ(frameModel.headerData(0, Qt::Horizontal).toString(), "In Frame");
  EXPECT_EQ(file->title(), "File");
  EXPECT_EQ(sub->title(), "sub");
  EXPECT_EQ(open->text(), "Open...");
  EXPECT_EQ(popupItem->text(), "Popup Item");
  EXPECT_EQ(group->title(), "Group");
  EXPECT_EQ(inGroup->text(), "In Group");
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "File Name");
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "old1");
  EXPECT_EQ(p0->text(), "Ready");
  EXPECT_EQ(p1->text(), "Idle");
}

TEST_F(MultiLanguageTest, UpdateLanguageAppliesTheLanguageFontToEveryControl) {
  WriteConf(
      "[Default]\nLanguage=1\nCount=1\n[LangFile]\n1=English.ini\n"
      "[LangFont1]\nFontName=DejaVu Serif\nFontSize=13\nCharSet=-1\n");
  WriteLang("English.ini", "[Strings]\n");
  auto lang = Make();
  QWidget form;
  form.setObjectName("FmTest");
  form.setFont(QFont("DejaVu Sans", 8));
  auto* label = Named<QLabel>(&form, "lblA", "a");
  auto* frame = Named<TFrame>(&form, "frmTools");
  auto* inFrame = Named<QPushButton>(frame, "btnGo", "go");
  auto* unnamed = new QLabel("x", &form);
  lang->UpdateLanguage(&form);
  for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(frame),
                     static_cast<QWidget*>(inFrame), static_cast<QWidget*>(unnamed)}) {
    EXPECT_EQ(w->font().family(), "DejaVu Serif") << w->objectName().toStdString();
    EXPECT_EQ(w->font().pointSize(), 13) << w->objectName().toStdString();
  }
  EXPECT_EQ(form.font().family(), "DejaVu Sans");  // the form itself keeps its font
}

TEST_F(MultiLanguageTest, UnnamedComponentsHaveNoKeys) {
  WriteLang("English.ini", "[FmTest]\n.Caption=bad\n.btnIn.Caption=bad\n\n[]\nCaption=bad\n");
  auto lang = Make();
  QWidget form;
  form.setObjectName("FmTest");
  auto* unnamed = new QPushButton("keep", &form);
  auto* frame = new TFrame(&form);
  auto* inFrame = Named<QPushButton>(frame, "btnIn", "keep");
  lang->UpdateLanguage(&form);
  EXPECT_EQ(unnamed->text(), "keep");
  EXPECT_EQ(inFrame->text(), "keep");

  QWidget anonymous;
  anonymous.setWindowTitle("keep");
  lang->UpdateLanguage(&anonymous);
  EXPECT_EQ(anonymous.windowTitle(), "keep");
  lang->UpdateLanguage(nullptr);
}

TEST_F(MultiLanguageTest, PrototypeOfAFormWithMenuStatusBarAndButton) {
  ::mkdir(LangDir().c_str(), 0755);
  auto lang = Make();
  QWidget form;
  form.setObjectName("FmProto");
  form.setWindowTitle("Vyr转为Mp4");
  auto* menuBar = Named<QMenuBar>(&form, "mmMain");
  QMenu* file = menuBar->addMenu("文件");
  file->setObjectName("mnuFile");
  file->addAction("打开")->setObjectName("mniOpen");
  file->addSeparator();
  QMenu* sub = file->addMenu("最近");
  sub->setObjectName("mnuRecent");
  sub->addAction("第一个")->setObjectName("mniFirst");
  auto* bar = Named<QStatusBar>(&form, "sbMain");
  bar->addWidget(new QLabel("就绪"));
  bar->addPermanentWidget(new QLabel("空闲"));
  Named<QPushButton>(&form, "btnConvert", "开始转换");

  lang->SaveFormLangPrototype(&form);
  EXPECT_EQ(ReadFileBytes(LangDir() + "/LangPrototype.ini"),
            "[Strings]\n"
            "MSG_MTINFORMATION=提示\n"
            "[FmProto]\n"
            "Caption=Vyr转为Mp4\n"
            "mnuFile.Caption=文件\n"
            "mniOpen.Caption=打开\n"
            "mnuRecent.Caption=最近\n"
            "mniFirst.Caption=第一个\n"
            "sbMain.Panels[0].Text=就绪\n"
            "sbMain.Panels[1].Text=空闲\n"
            "btnConvert.Caption=开始转换\n");
}

TEST_F(MultiLanguageTest, PrototypeKeysOfFramesPagesGridsAndGroups) {
  WriteLang("LangPrototype.ini",
            "; translators' notes\n[Strings]\nsKept=yes\n[FmProto]\nCaption=old\nextra=kept\n");
  auto lang = Make();
  QWidget form;
  form.setObjectName("FmProto");
  form.setWindowTitle("New");
  auto* pages = Named<QTabWidget>(&form, "pcMain");
  auto* page = Named<QWidget>(nullptr, "tsOne");
  pages->addTab(page, "One");
  auto* grid = Named<QTableView>(&form, "dbgList");
  QStandardItemModel model(0, 2);
  model.setHorizontalHeaderLabels({"文件名", "进度"});
  grid->setModel(&model);
  auto* frame = Named<TFrame>(&form, "frmTools");
  Named<QPushButton>(frame, "btnGo", "Go");
  auto* inner = Named<TFrame>(frame, "frmInner");
  Named<QLabel>(inner, "lblDeep", "Two\nlines");
  auto* group = Named<QGroupBox>(&form, "grpBox");
  group->setTitle("Group");
  Named<QLabel>(group, "lblIn", "In");
  new QLabel("unnamed", &form);

  lang->SaveFormLangPrototype(&form);
  EXPECT_EQ(ReadFileBytes(LangDir() + "/LangPrototype.ini"),
            "; translators' notes\n[Strings]\nsKept=yes\nMSG_MTINFORMATION=提示\n"
            "[FmProto]\n"
            "Caption=New\n"
            "extra=kept\n"
            "tsOne.Caption=One\n"
            "dbgList.Columns[0].Title.Caption=文件名\n"
            "dbgList.Columns[1].Title.Caption=进度\n"
            "frmTools.btnGo.Caption=Go\n"
            "frmTools.frmInner.lblDeep.Caption=Two lines\n"
            "grpBox.Caption=Group\n"
            "lblIn.Caption=In\n");
}

TEST_F(MultiLanguageTest, PrototypeWithoutALanguageFolderRaises) {
  auto lang = Make();
  QWidget form;
  form.setObjectName("FmProto");
  try {
    lang->SaveFormLangPrototype(&form);
    FAIL() << "no error raised";
  } catch (const EIniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + LangDir() + "/LangPrototype.ini");
  }
}

TEST_F(MultiLanguageTest, TheProgramsEngineLivesBetweenCreateAndFree) {
  WriteLang("English.ini", "[Strings]\nsStop=Stop\n");
  EXPECT_EQ(FMultiLanguage, nullptr);
  CreateMultiLanguage(FInstall.Path(), ConfFile());
  ASSERT_NE(FMultiLanguage, nullptr);
  EXPECT_EQ(FMultiLanguage->GetStrings("sStop"), "Stop");
  CreateMultiLanguage(FInstall.Path(), ConfFile() + ".none");  // re-created
  ASSERT_NE(FMultiLanguage, nullptr);
  FreeMultiLanguage();
  EXPECT_EQ(FMultiLanguage, nullptr);
  FreeMultiLanguage();
  CreateMultiLanguage();  // the default folders
  ASSERT_NE(FMultiLanguage, nullptr);
  EXPECT_EQ(FMultiLanguage->GetLanguageConfIni(), ConfFile());
  FreeMultiLanguage();
}
