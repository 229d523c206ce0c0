// The window from the keyboard: Tab reaches every control in layout order and leaves the
// list; Delete removes the selected rows; Enter presses the focused button; Shift+F10 and
// the Menu key open the list's menu. Neither Delete nor the menu while a run is active.
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest>
#include <sys/stat.h>

#include "UiTestSupport.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"

class TestWindowKeyboard : public TWindowTest {
  Q_OBJECT

 private:
  void AddRows(int ACount) { TWindowTest::AddRows(ACount, "k"); }
  void Focus(QWidget* AWidget) {
    // A menu that was open may have taken the window's activation with it.
    W().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(FWindow.get()));
    AWidget->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), AWidget);
  }
  static QWidget* Focused() { return QApplication::focusWidget(); }

 private slots:
  void init() {
    SetUp();
    MakeWindow(FTasks->Backend(), true);
    FWindow->show();
    FWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(FWindow.get()));
    // Showing the window fills in the remembered output folder.
    FWindow->txtSavePath->setText(QString::fromStdString(FOut));
  }
  void cleanup() {
    TearDown();
  }

  void tabWalksTheControlsInLayoutOrder() {
    AddRows(3);
    SelectRows({1});
    W().dbgVyrSourceFile->setCurrentIndex(W().cdsConvert->index(0, 0));
    Focus(W().dbgVyrSourceFile);
    QWidget* const expected[] = {W().txtSavePath, W().btnSelOutDir,  W().findChild<QRadioButton*>("rgOutFormatItem0"),
                                 W().lblOpenOutDir, W().btnConvert, W().dbgVyrSourceFile};
    QStringList path;
    for (QWidget* w : expected) {
      QTest::keyClick(Focused(), Qt::Key_Tab);
      path << (Focused() ? Focused()->objectName() : QStringLiteral("(none)"));
      QCOMPARE(Focused(), w);
    }
    // Tab did not walk the list's cells: its current cell is where it was.
    QCOMPARE(W().dbgVyrSourceFile->currentIndex(), W().cdsConvert->index(0, 0));
    // Shift+Tab goes back the same way.
    QTest::keyClick(Focused(), Qt::Key_Backtab);
    QCOMPARE(Focused(), static_cast<QWidget*>(W().btnConvert));
  }

  void deleteRemovesTheSelectedRowsWhenIdle() {
    AddRows(4);
    SelectRows({2, 4});
    Focus(W().dbgVyrSourceFile);
    QTest::keyClick(W().dbgVyrSourceFile, Qt::Key_Delete);
    QCOMPARE(W().cdsConvert->RecordCount(), 2);
    QCOMPARE(W().cdsConvert->Row(1)->FileName, QStringLiteral("k1.vyr"));
    QCOMPARE(W().cdsConvert->Row(2)->FileName, QStringLiteral("k3.vyr"));
    // During a run Delete does nothing.
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    SelectRows({1});
    Focus(W().dbgVyrSourceFile);
    QTest::keyClick(W().dbgVyrSourceFile, Qt::Key_Delete);
    QCOMPARE(W().cdsConvert->RecordCount(), 2);
    W().ShutdownTasks();
  }

  void enterPressesTheFocusedButton() {
    AddRows(1);
    // The folder button opens the folder dialog.
    FDialogs->FolderToPick = QString::fromStdString(FEnv->Dir().File("picked"));
    Focus(W().btnSelOutDir);
    QTest::keyClick(W().btnSelOutDir, Qt::Key_Return);
    QCOMPARE(FDialogs->LastFolderTitle, QStringLiteral("选择目录"));
    QCOMPARE(W().txtSavePath->text().toStdString(), FEnv->Dir().File("picked") + "/");
    // The second format item is chosen.
    auto* raw = W().findChild<QRadioButton*>("rgOutFormatItem1");
    Focus(raw);
    QTest::keyClick(raw, Qt::Key_Enter);
    QCOMPARE(W().OutFormatIndex(), 1);
    // The convert button starts a run, and stops it.
    FTasks->AutoFinish = false;
    Focus(W().btnConvert);
    QTest::keyClick(W().btnConvert, Qt::Key_Return);
    QVERIFY(W().IsWorking());
    QTest::keyClick(W().btnConvert, Qt::Key_Enter);
    QVERIFY(W().FTerminated.load());
    W().ShutdownTasks();
  }

  void enterOnTheLinkOpensTheFolder() {
    const std::string bin = FEnv->Dir().File("bin");
    ::mkdir(bin.c_str(), 0700);
    const std::string log = FEnv->Dir().File("opened");
    WriteFileBytes(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + log + "'\n");
    ::chmod((bin + "/xdg-open").c_str(), 0700);
    TScopedEnv path("PATH", bin);
    Focus(W().lblOpenOutDir);
    QTest::keyClick(W().lblOpenOutDir, Qt::Key_Return);
    QTRY_COMPARE(ReadFileBytes(log), FEnv->Dir().File("out"));
  }

  void keysOpenTheListMenuWhenIdle_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier);
  }
  void keysOpenTheListMenuWhenIdle() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    AddRows(2);
    Focus(W().dbgVyrSourceFile);
    QTest::keyClick(W().dbgVyrSourceFile, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY(W().popVyr->isVisible());
    // It opens beside the current row, inside the list.
    const QRect list(W().dbgVyrSourceFile->mapToGlobal(QPoint(0, 0)), W().dbgVyrSourceFile->size());
    QVERIFY(list.contains(W().popVyr->pos()));
    W().popVyr->close();
    // F10 alone is no menu key.
    QTest::keyClick(W().dbgVyrSourceFile, Qt::Key_F10);
    QTest::qWait(20);
    QVERIFY(!W().popVyr->isVisible());
    // During a run the list has no menu.
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    Focus(W().dbgVyrSourceFile);
    QTest::keyClick(W().dbgVyrSourceFile, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTest::qWait(20);
    QVERIFY(!W().popVyr->isVisible());
    W().ShutdownTasks();
  }
};

QTEST_MAIN(TestWindowKeyboard)
#include "test_window_keyboard.moc"
