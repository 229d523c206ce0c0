// What the window looks like: the marks of the progress cells (failed red also on a
// selected row, the warning colour, stopped, skipped), the hint of the empty list, the
// folder button's look during a run, the group boxes' frames beside their titles, and Qt's
// own dialogs in Chinese.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QStyleOptionGroupBox>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

#include "UiTestSupport.h"
#include "support/uFunctionsLib.h"
#include "support/uMultiLanguage.h"
#include "ui/UFileListModel.h"
#include "ui/UFmVyrToMp4.h"
#include "ui/UProgressDelegate.h"
#include "ui/UQtTranslations.h"
#include "ui/UWindowTexts.h"

namespace {

bool IsRed(const QColor& C) { return C.red() > 150 && C.green() < 80 && C.blue() < 80; }

bool HasCjk(const QString& AText) {
  for (QChar c : AText)
    if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
  return false;
}

}  // namespace

class TestWindowLooks : public TWindowTest {
  Q_OBJECT

 private:
  void AddRows(int ACount) { TWindowTest::AddRows(ACount, "l"); }
  // Counts the pixels of the progress cell of a row that pass ATest.
  int CellPixels(int ARow, const std::function<bool(const QColor&)>& ATest) {
    const QImage img = W().dbgVyrSourceFile->viewport()->grab().toImage();
    const QRect cell = W().dbgVyrSourceFile->visualRect(W().cdsConvert->index(ARow - 1, 1));
    int n = 0;
    for (int x = cell.left(); x <= cell.right(); ++x)
      for (int y = cell.top(); y <= cell.bottom(); ++y) n += ATest(QColor(img.pixel(x, y)));
    return n;
  }
  void Select(int ARow) {
    W().dbgVyrSourceFile->selectionModel()->select(W().cdsConvert->index(ARow - 1, 0),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

 private slots:
  void init() {
    SetUp();
    MakeWindow();
    FWindow->show();
  }
  void cleanup() {
    TearDown();
    qApp->setStyleSheet(QString());
  }

  void failedStaysRedOnASelectedRow() {
    AddRows(2);
    W().cdsConvert->SetProgress(1, 100);
    W().cdsConvert->SetMark(1, TRowMark::Failed, QStringLiteral("why"));
    W().dbgVyrSourceFile->clearSelection();
    const int unselected = CellPixels(1, IsRed);
    QVERIFY(unselected > 5);
    Select(1);
    const int selected = CellPixels(1, IsRed);
    QVERIFY2(selected > unselected / 2, qPrintable(QString("%1 red pixels, %2 unselected").arg(selected).arg(unselected)));
    QCOMPARE(CellPixels(1, [](const QColor& C) { return C == TProgressDelegate::BarColor(); }), 0);
  }

  void warnedRowsShowTheirBarInTheWarningColour() {
    AddRows(2);
    W().cdsConvert->SetProgress(1, 100);
    W().cdsConvert->SetMark(1, TRowMark::Warned, QStringLiteral("damaged data skipped"));
    W().cdsConvert->SetProgress(2, 100);
    W().dbgVyrSourceFile->clearSelection();
    auto warning = [](const QColor& C) { return C == TProgressDelegate::WarningBarColor(); };
    auto normal = [](const QColor& C) { return C == TProgressDelegate::BarColor(); };
    QVERIFY(CellPixels(1, warning) > 500);
    QCOMPARE(CellPixels(1, normal), 0);
    QCOMPARE(CellPixels(1, IsRed), 0);
    QCOMPARE(CellPixels(2, warning), 0);
    QVERIFY(CellPixels(2, normal) > 500);
  }

  void stoppedAndSkippedRowsSayWhatHappened() {
    const QRect cell(0, 0, 104, 20);
    // The stopped label carries the last progress; its bar stops there.
    QImage img(cell.size(), QImage::Format_RGB32);
    img.fill(Qt::white);
    {
      QPainter p(&img);
      TProgressDelegate::DrawProgressBar(&p, cell, 40, TFmVyrToMp4::DefaultWindowFont(), Qt::black, Qt::black,
                                         TProgressDelegate::BarColor(), QStringLiteral("Stopped 40%"));
    }
    QCOMPARE(QColor(img.pixel(10, 3)), TProgressDelegate::BarColor());
    QCOMPARE(QColor(img.pixel(60, 3)), QColor(Qt::white));
    // In the list: the model gives the texts of the loaded language.
    AddRows(2);
    W().UpdateLanguage();
    W().cdsConvert->SetMark(1, TRowMark::Stopped, QStringLiteral("kept in x"));
    W().cdsConvert->SetMark(2, TRowMark::Skipped, QStringLiteral("exists"));
    QCOMPARE(W().cdsConvert->data(W().cdsConvert->index(0, 1), TFileListModel::MarkTextRole).toString(),
             TFmVyrToMp4::Lang("sConvertStopped"));
    QCOMPARE(W().cdsConvert->data(W().cdsConvert->index(1, 1), TFileListModel::MarkTextRole).toString(),
             TFmVyrToMp4::Lang("sConvertSkipped"));
    W().dbgVyrSourceFile->clearSelection();
    auto ink = [](const QColor& C) { return qGray(C.rgb()) < 200; };
    QVERIFY(CellPixels(1, ink) > 10);
    QVERIFY(CellPixels(2, ink) > 10);
  }

  void theEmptyListShowsAHint() {
    W().UpdateLanguage();
    QCOMPARE(W().dbgVyrSourceFile->EmptyHint(),
             FormatText(TFmVyrToMp4::Lang("sEmptyListHint"), {TFmVyrToMp4::Lang("sOpenFile")}));
    QVERIFY(W().dbgVyrSourceFile->EmptyHint().contains("\"Add Files...\""));
    auto inkInTheMiddle = [this] {
      const QImage img = W().dbgVyrSourceFile->viewport()->grab().toImage();
      int ink = 0;
      for (int y = img.height() / 2 - 20; y < img.height() / 2 + 20; ++y)
        for (int x = 0; x < img.width(); ++x) ink += qGray(img.pixel(x, y)) < 200;
      return ink;
    };
    QVERIFY(inkInTheMiddle() > 20);
    AddRows(1);  // the row sits at the top; the middle is blank
    QCOMPARE(inkInTheMiddle(), 0);
    W().mniDelAllFileClick();
    QVERIFY(inkInTheMiddle() > 20);
  }

  void theFolderButtonLooksDisabledDuringARun() {
    AddRows(1);
    QVERIFY(W().btnSelOutDir->isEnabled());
    const QImage idle = W().btnSelOutDir->grab().toImage();
    FTasks->AutoFinish = false;
    W().btnConvertClick();
    QVERIFY(!W().btnSelOutDir->isEnabled());
    QVERIFY(W().btnSelOutDir->grab().toImage() != idle);
    W().btnConvertClick();  // stop
    FTasks->Release = true;
    RunTicksUntilIdle(W());
    QVERIFY(W().btnSelOutDir->isEnabled());
  }

  void groupBoxFramesDoNotRunThroughTheirTitles() {
    W().LoadStyle();  // Styles/Sky.qss beside the test programs
    QVERIFY(!qApp->styleSheet().isEmpty());
    W().UpdateLanguage();
    for (QGroupBox* box : {W().grpWorkArea, W().grpOptions, W().rgOutFormat}) {
      const QImage img = box->grab().toImage();
      QStyleOptionGroupBox opt;
      opt.initFrom(box);
      opt.text = box->title();
      opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
      const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
      const QRect frame = box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxFrame, box);
      QVERIFY2(label.isValid() && frame.isValid(), qPrintable(box->objectName()));
      // The frame's top line far right of the title, against the title's span.
      const QColor line(img.pixel(frame.right() - 12, frame.top()));
      QVERIFY(qGray(line.rgb()) < 240);
      auto lineRun = [&](int AFrom, int ATo) {
        int n = 0;
        for (int x = AFrom; x < ATo; ++x) n += QColor(img.pixel(x, frame.top())) == line;
        return n;
      };
      QVERIFY2(lineRun(label.right() + 4, label.right() + 24) >= 15, qPrintable(box->objectName()));
      QVERIFY2(lineRun(label.left() + 2, label.right() - 2) < 3, qPrintable(box->objectName() + ": the frame crosses the title"));
    }
  }

  void qtsOwnDialogsSpeakChinese() {
    // The Chinese language chosen as a user does it.
    WriteFileBytes(FEnv->AppData() + "/Vyr Player/Language.ini",
                   "[Default]\nLanguage=2\nCount=2\n[LangFile]\n1=English.ini\n2=Chinese.ini\n");
    FreeMultiLanguage();
    CreateMultiLanguage(GetInstallDir(), FEnv->AppData() + "/Vyr Player/Language.ini");
    QCOMPARE(GetLangText("sQtLocale"), QStringLiteral("zh_CN"));
    TQtTranslations qt;
    QVERIFY2(qt.LoadForLanguageFile(), "qtbase_zh_CN.qm is not installed (qt6-translations-l10n)");
    // Message boxes: OK, Yes, No, Cancel.
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    for (QAbstractButton* b : box.buttons()) QVERIFY2(HasCjk(b->text()), qPrintable(b->text()));
    // The file dialog (Qt's own, as the window shows it).
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog, true);
    files.setFileMode(QFileDialog::ExistingFiles);
    QStringList texts;
    for (QLabel* l : files.findChildren<QLabel*>()) texts << l->text();
    for (QPushButton* b : files.findChildren<QPushButton*>()) texts << b->text();
    int translated = 0;
    for (const QString& t : texts) translated += HasCjk(t);
    QVERIFY2(translated >= 3, qPrintable(texts.join(" | ")));
    // The folder dialog keeps the title the window gives it.
    W().btnSelOutDirClick();
    QCOMPARE(FDialogs->LastFolderTitle, QStringLiteral("选择目录"));
    // English needs none, and the Chinese texts go with the translator.
    QVERIFY(!qt.Load("en"));
    QMessageBox english;
    english.setStandardButtons(QMessageBox::Yes);
    QVERIFY(!HasCjk(english.buttons().first()->text()));
  }
};

QTEST_MAIN(TestWindowLooks)
#include "test_window_looks.moc"
