// The program's own settings file: without the companion's "SysParams.ini" the output
// folder and the format the user chose are remembered in
// "$XDG_CONFIG_HOME/VyrTranscode/VyrTranscode.ini", and nothing is put into the companion's
// folder; with "SysParams.ini" the folder goes there as before.
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "support/UDmReadSysParamIni.h"
#include "support/UIniFile.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UProgramSettings.h"

class TestOwnSettings : public TWindowTest {
  Q_OBJECT

 private:
  // A window of its own, for a test that starts the program more than once.
  std::unique_ptr<TFmVyrToMp4> NewWindow() {
    auto w = std::make_unique<TFmVyrToMp4>(FTasks->Backend());
    w->SetDialogs(FDialogs->Dialogs());
    return w;
  }
  std::string OwnFile() const { return FEnv->ConfigHome() + "/VyrTranscode/VyrTranscode.ini"; }
  std::string Stored(const std::string& AKey) const { return TIniFile(OwnFile()).ReadString("Output", AKey, "<none>"); }

 private slots:
  void init() {
    SetUp();
  }
  void cleanup() {
    DmReadSysParamIni = nullptr;
    TearDown();
  }

  void withoutSysParamsTheFolderAndFormatAreRemembered() {
    ::rmdir((FEnv->AppData() + "/Vyr Player").c_str());  // no companion at all
    TDmReadSysParamIni settings;
    DmReadSysParamIni = &settings;
    QCOMPARE(TProgramSettings::FileName(), OwnFile());
    {
      auto w = NewWindow();
      w->FormShow();
      // The proposed default is not stored: only what the user chose is.
      QVERIFY(!FileExists(OwnFile()));
      FDialogs->FolderToPick = QString::fromStdString(FEnv->Dir().File("picked"));
      w->btnSelOutDirClick();
      w->findChild<QRadioButton*>("rgOutFormatItem1")->click();
    }
    QCOMPARE(Stored("Folder"), FEnv->Dir().File("picked") + "/");
    QCOMPARE(Stored("Format"), std::string("raw"));
    struct stat st {};
    QVERIFY(::stat((FEnv->ConfigHome() + "/VyrTranscode").c_str(), &st) == 0);
    QCOMPARE(int(st.st_mode & 0777), 0700);
    // Nothing of the companion's was created.
    QVERIFY(::stat((FEnv->AppData() + "/Vyr Player").c_str(), &st) != 0);
    // The next start shows both.
    auto next = NewWindow();
    next->FormShow();
    QCOMPARE(next->txtSavePath->text().toStdString(), FEnv->Dir().File("picked") + "/");
    QCOMPARE(next->OutFormatIndex(), 1);
    // A format set by the program itself (not by the user) is not stored.
    next->SetOutFormatIndex(0);
    QCOMPARE(Stored("Format"), std::string("raw"));
    QVERIFY(FDialogs->Messages.empty());
  }

  void withSysParamsTheFolderGoesThere() {
    FEnv->WriteSettings("[RecordBrowerParam]\nLogLevel=0\nDireRecordPath=/old/\n");
    TDmReadSysParamIni settings;
    DmReadSysParamIni = &settings;
    auto w = NewWindow();
    w->FormShow();
    QCOMPARE(w->txtSavePath->text(), QStringLiteral("/old/"));
    FDialogs->FolderToPick = QString::fromStdString(FEnv->Dir().File("picked"));
    w->btnSelOutDirClick();
    std::string stored;
    settings.GetRecordPath(stored);
    QCOMPARE(stored, FEnv->Dir().File("picked") + "/");
    QCOMPARE(Stored("Folder"), std::string("<none>"));
  }

  void theConfigFolderDefaultsToDotConfig() {
    TScopedEnv unset("XDG_CONFIG_HOME", "");
    QCOMPARE(TProgramSettings::FileName(), FEnv->Home() + "/.config/VyrTranscode/VyrTranscode.ini");
    TScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    QCOMPARE(TProgramSettings::FileName(), FEnv->Home() + "/.config/VyrTranscode/VyrTranscode.ini");
  }

  void aRefusedWriteIsShownAndTheWindowGoesOn() {
    // A folder where the file belongs: nobody can write it.
    QVERIFY(QDir().mkpath(QString::fromStdString(OwnFile())));
    auto w = NewWindow();
    FDialogs->FolderToPick = QString::fromStdString(FEnv->Dir().File("picked"));
    w->btnSelOutDirClick();
    QCOMPARE(FDialogs->Texts(), QStringList({QString::fromStdString("Unable to write to " + OwnFile())}));
    QCOMPARE(FDialogs->Messages[0].Title, w->windowTitle());
    QCOMPARE(w->txtSavePath->text().toStdString(), FEnv->Dir().File("picked") + "/");
  }
};

QTEST_MAIN(TestOwnSettings)
#include "test_own_settings.moc"
