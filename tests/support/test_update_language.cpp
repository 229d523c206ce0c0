// The language engine's view of Qt widgets: components, menus, pages, grids, status bars,
// captions and fonts.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStringListModel>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <functional>
#include <memory>

#include "support/uUpdateLanguage.h"

using namespace LangToolkit;

namespace {

template <typename T>
T* Named(QWidget* AParent, const char* AName) {
  auto* w = new T(AParent);
  w->setObjectName(AName);
  return w;
}

QStringList Names(const std::vector<QWidget*>& AWidgets) {
  QStringList names;
  for (QWidget* w : AWidgets) names << w->objectName();
  return names;
}

}  // namespace

TEST(LangToolkit, ComponentsAreTheFormsWidgetsInCreationOrderWithoutInsides) {
  QWidget form;
  form.setObjectName("FmTest");
  Named<QLabel>(&form, "lblA");
  auto* grp = Named<QGroupBox>(&form, "grpBox");
  Named<QPushButton>(grp, "btnIn");
  auto* frame = Named<TFrame>(grp, "frmTools");
  Named<QPushButton>(frame, "btnGo");  // the frame's, not the form's
  auto* tabs = Named<QTabWidget>(&form, "pcMain");
  auto* page = new QWidget;
  page->setObjectName("tsFirst");
  tabs->addTab(page, "First");
  Named<QCheckBox>(page, "chkOnPage");
  auto* splitter = Named<QSplitter>(&form, "splMain");
  splitter->addWidget(Named<QLabel>(nullptr, "lblLeft"));
  auto* scroll = Named<QScrollArea>(&form, "sbxArea");
  auto* content = Named<QWidget>(nullptr, "pnlContent");
  Named<QRadioButton>(content, "rbInScroll");
  scroll->setWidget(content);
  auto* grid = Named<QTableView>(&form, "dbgList");
  grid->setModel(new QStandardItemModel(2, 2, grid));
  auto* bar = Named<QStatusBar>(&form, "sbMain");
  bar->addWidget(Named<QLabel>(nullptr, "lblPanel"));  // a panel, reached through the bar
  auto* dialog = Named<QDialog>(&form, "dlgChild");    // a window of its own
  Named<QPushButton>(dialog, "btnInDialog");
  Named<QMenu>(&form, "popMenu");  // popup menus belong to the form
  auto* combo = Named<QComboBox>(&form, "cboKind");
  combo->setEditable(true);  // its line edit is the combo box's own
  auto* inner = Named<QFrame>(&form, "pnlPlain");
  Named<QToolButton>(inner, "btnTool");
  new QLabel("unnamed", &form);

  EXPECT_EQ(Names(OwnedComponents(&form)),
            QStringList({"lblA", "grpBox", "btnIn", "frmTools", "pcMain", "tsFirst", "chkOnPage",
                         "splMain", "lblLeft", "sbxArea", "pnlContent", "rbInScroll", "dbgList",
                         "sbMain", "popMenu", "cboKind", "pnlPlain", "btnTool", ""}));
  EXPECT_EQ(Names(OwnedComponents(frame)), QStringList({"btnGo"}));
  EXPECT_TRUE(OwnedComponents(nullptr).empty());
}

TEST(LangToolkit, MainWindowComponentsLeaveItsOwnMachineryOut) {
  QMainWindow form;
  form.setObjectName("FmMain");
  form.menuBar()->setObjectName("mmMain");
  form.menuBar()->addMenu("File")->setObjectName("mnuFile");
  auto* central = Named<QWidget>(nullptr, "pnlMain");
  form.setCentralWidget(central);
  Named<QPushButton>(central, "btnConvert");
  form.statusBar()->setObjectName("sbMain");
  form.addToolBar("tools")->setObjectName("tbMain");
  EXPECT_EQ(Names(OwnedComponents(&form)),
            QStringList({"mmMain", "pnlMain", "btnConvert", "sbMain", "tbMain"}));
}

TEST(LangToolkit, ClassTests) {
  QWidget form;
  auto* frame = new TFrame(&form);
  struct Case {
    const char* Name;
    QWidget* Widget;
    bool Menu, PageControl, DataGrid, StatusBar, Frame, Control;
  } const cases[] = {
      {"menu bar", new QMenuBar(&form), true, false, false, false, false, false},
      {"popup menu", new QMenu(&form), true, false, false, false, false, false},
      {"tab widget", new QTabWidget(&form), false, true, false, false, false, true},
      {"table view", new QTableView(&form), false, false, true, false, false, true},
      {"tree view", new QTreeView(&form), false, false, true, false, false, true},
      {"status bar", new QStatusBar(&form), false, false, false, true, false, true},
      {"frame", frame, false, false, false, false, true, true},
      {"plain QFrame", new QFrame(&form), false, false, false, false, false, true},
      {"button", new QPushButton(&form), false, false, false, false, false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsMenu(c.Widget), c.Menu) << c.Name;
    EXPECT_EQ(IsPageControl(c.Widget), c.PageControl) << c.Name;
    EXPECT_EQ(IsDataGrid(c.Widget), c.DataGrid) << c.Name;
    EXPECT_EQ(IsStatusBar(c.Widget), c.StatusBar) << c.Name;
    EXPECT_EQ(IsFrame(c.Widget), c.Frame) << c.Name;
    EXPECT_EQ(IsControl(c.Widget), c.Control) << c.Name;
  }
  EXPECT_TRUE(IsForm(&form));
  EXPECT_FALSE(IsForm(frame));
  EXPECT_FALSE(IsForm(nullptr));
}

TEST(LangToolkit, FormCaptionIsTheWindowTitle) {
  QWidget form;
  SetFormCaption(&form, "Vyr转为Mp4");
  EXPECT_EQ(form.windowTitle(), "Vyr转为Mp4");
  EXPECT_EQ(FormCaption(&form), "Vyr转为Mp4");
  EXPECT_EQ(ComponentName(nullptr), "");
}

TEST(LangToolkit, MenuItemsSubMenusAndNames) {
  QMenuBar bar;
  QMenu* file = bar.addMenu("File");
  file->setObjectName("mnuFile");  // a sub-menu item takes its menu's name
  QAction* open = file->addAction("Open");
  open->setObjectName("mniOpen");
  file->addSeparator();
  QMenu* recent = file->addMenu("Recent");
  recent->menuAction()->setObjectName("mniRecent");  // the item's own name wins
  recent->setObjectName("mnuRecentMenu");
  QAction* last = recent->addAction("Last");
  last->setObjectName("mniLast");

  const std::vector<QAction*> top = MenuItems(&bar);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(MenuItemName(top[0]), "mnuFile");
  EXPECT_EQ(MenuItemCaption(top[0]), "File");
  EXPECT_EQ(MenuSubMenu(top[0]), file);

  const std::vector<QAction*> items = MenuSubItems(top[0]);  // the separator is no item
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], open);
  EXPECT_EQ(MenuItemName(items[1]), "mniRecent");
  EXPECT_TRUE(MenuSubItems(open).empty());
  EXPECT_EQ(MenuSubMenu(open), nullptr);
  ASSERT_EQ(MenuSubItems(items[1]).size(), 1u);
  EXPECT_EQ(MenuSubItems(items[1])[0], last);

  SetMenuItemCaption(top[0], "文件");
  EXPECT_EQ(file->title(), "文件");
  EXPECT_TRUE(MenuItems(nullptr).empty());
}

TEST(LangToolkit, PagesAreTheTabsWithTheirTabTexts) {
  QTabWidget tabs;
  auto* first = Named<QWidget>(nullptr, "tsFirst");
  auto* second = Named<QWidget>(nullptr, "tsSecond");
  tabs.addTab(first, "First");
  tabs.addTab(second, "Second");
  EXPECT_EQ(Names(Pages(&tabs)), QStringList({"tsFirst", "tsSecond"}));
  EXPECT_EQ(PageCaption(second), "Second");
  SetPageCaption(second, "第二页");
  EXPECT_EQ(tabs.tabText(1), "第二页");
  // A page's caption property is its tab text.
  EXPECT_TRUE(HasCaption(first));
  SetCaption(first, "第一页");
  EXPECT_EQ(tabs.tabText(0), "第一页");
  EXPECT_EQ(Caption(first), "第一页");
  QWidget loose;
  EXPECT_FALSE(HasCaption(&loose));
  EXPECT_EQ(PageCaption(&loose), "");
  SetPageCaption(&loose, "ignored");
  EXPECT_TRUE(Pages(&loose).empty());
}

TEST(LangToolkit, GridColumnTitlesAreTheModelsHeaders) {
  QStandardItemModel model(0, 2);
  model.setHorizontalHeaderLabels({"文件名", "进度"});
  QTableView table;
  QTreeView tree;
  for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{&table, &tree}) {
    view->setModel(&model);
    EXPECT_EQ(GridColumnCount(view), 2);
    EXPECT_EQ(GridColumnTitle(view, 1), "进度");
  }
  SetGridColumnTitle(&table, 0, "File Name");
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "File Name");
  EXPECT_EQ(GridColumnTitle(&tree, 0), "File Name");

  QTableView empty;
  EXPECT_EQ(GridColumnCount(&empty), 0);
  EXPECT_EQ(GridColumnTitle(&empty, 0), "");
  SetGridColumnTitle(&empty, 0, "ignored");

  // A model that keeps its headers keeps them.
  QStringListModel fixed({"a"});
  QTableView fixedView;
  fixedView.setModel(&fixed);
  const QString before = GridColumnTitle(&fixedView, 0);
  SetGridColumnTitle(&fixedView, 0, "changed");
  EXPECT_EQ(GridColumnTitle(&fixedView, 0), before);
}

TEST(LangToolkit, StatusPanelsInDisplayOrderWithoutTheSizeGrip) {
  QStatusBar bar;
  bar.setSizeGripEnabled(true);
  auto* first = new QLabel("one");
  auto* permanent = new QLabel("perm");
  auto* second = new QLabel("two");
  bar.addWidget(first);
  bar.addPermanentWidget(permanent);
  bar.addWidget(second);
  const std::vector<QWidget*> panels = StatusPanels(&bar);
  ASSERT_EQ(panels.size(), 3u);
  EXPECT_EQ(panels[0], first);
  EXPECT_EQ(panels[1], second);
  EXPECT_EQ(panels[2], permanent);
  EXPECT_EQ(Caption(panels[2]), "perm");
  QStatusBar none;
  EXPECT_TRUE(StatusPanels(&none).empty());
  QLabel notABar;
  EXPECT_TRUE(StatusPanels(&notABar).empty());
}

TEST(LangToolkit, CaptionProperties) {
  struct Case {
    const char* Name;
    std::function<QWidget*()> Make;
    bool HasIt;
  } const cases[] = {
      {"label", [] { return new QLabel("old"); }, true},
      {"push button", [] { return new QPushButton("old"); }, true},
      {"check box", [] { return new QCheckBox("old"); }, true},
      {"radio button", [] { return new QRadioButton("old"); }, true},
      {"tool button",
       [] {
         auto* b = new QToolButton;
         b->setText("old");
         return b;
       },
       true},
      {"group box", [] { return new QGroupBox("old"); }, true},
      {"line edit", [] { return new QLineEdit("old"); }, false},
      {"plain frame", [] { return new QFrame; }, false},
      {"table view", [] { return new QTableView; }, false},
  };
  for (const Case& c : cases) {
    std::unique_ptr<QWidget> w(c.Make());
    EXPECT_EQ(HasCaption(w.get()), c.HasIt) << c.Name;
    EXPECT_EQ(Caption(w.get()), c.HasIt ? "old" : "") << c.Name;
    SetCaption(w.get(), "新");
    EXPECT_EQ(Caption(w.get()), c.HasIt ? "新" : "") << c.Name;
  }
  auto* edit = new QLineEdit("keep");
  std::unique_ptr<QWidget> owner(edit);
  SetCaption(edit, "changed");
  EXPECT_EQ(edit->text(), "keep");
  EXPECT_FALSE(HasCaption(nullptr));
}

TEST(LangToolkit, CharacterSetsMapToWritingSystems) {
  const std::pair<int, QFontDatabase::WritingSystem> cases[] = {
      {0, QFontDatabase::Latin},
      {1, QFontDatabase::Any},
      {2, QFontDatabase::Symbol},
      {77, QFontDatabase::Any},
      {128, QFontDatabase::Japanese},
      {129, QFontDatabase::Korean},
      {134, QFontDatabase::SimplifiedChinese},
      {136, QFontDatabase::TraditionalChinese},
      {161, QFontDatabase::Greek},
      {177, QFontDatabase::Hebrew},
      {178, QFontDatabase::Arabic},
      {204, QFontDatabase::Cyrillic},
      {222, QFontDatabase::Thai},
      {238, QFontDatabase::Latin},
      {255, QFontDatabase::Any},
      {-1, QFontDatabase::Any},
      {9999, QFontDatabase::Any},
  };
  for (const auto& c : cases) EXPECT_EQ(CharSetWritingSystem(c.first), c.second) << c.first;
}

TEST(LangToolkit, FontFaceAndSize) {
  QWidget parent;
  parent.setFont(QFont("DejaVu Sans", 11));
  auto* label = new QLabel("x", &parent);

  SetControlFont(label, "", 0, -1);  // nothing to change: still follows its parent
  EXPECT_FALSE(label->testAttribute(Qt::WA_SetFont));
  EXPECT_EQ(label->font().pointSize(), 11);

  SetControlFont(label, "Noto Sans", 14, -1);
  EXPECT_EQ(label->font().family(), "Noto Sans");
  EXPECT_EQ(label->font().pointSize(), 14);

  SetControlFont(label, "", -20, -1);  // a negative size is a pixel height
  EXPECT_EQ(label->font().family(), "Noto Sans");
  EXPECT_EQ(label->font().pixelSize(), 20);

  SetControlFont(nullptr, "Noto Sans", 14, 0);
}

TEST(LangToolkit, CharacterSetAddsAFallbackFamilyOnlyWhenNeeded) {
  // A face that writes Latin but not Simplified Chinese, and a family that does.
  QString latinOnly;
  for (const QString& family : QFontDatabase::families(QFontDatabase::Latin)) {
    if (!QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese) &&
        QFontInfo(QFont(family)).family() == family) {
      latinOnly = family;
      break;
    }
  }
  if (latinOnly.isEmpty() || QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
    GTEST_SKIP() << "needs a Latin-only font and a Chinese font";

  QLabel label("x");
  label.setFont(QFont(latinOnly, 10));
  SetControlFont(&label, "", 0, 0);  // Latin: the face writes it, nothing changes
  EXPECT_EQ(label.font().families(), QStringList({latinOnly}));

  SetControlFont(&label, "", 0, 134);
  const QStringList families = label.font().families();
  ASSERT_EQ(families.size(), 2);
  EXPECT_EQ(families[0], latinOnly);
  EXPECT_EQ(label.font().pointSize(), 10);
  EXPECT_TRUE(
      QFontDatabase::writingSystems(families[1]).contains(QFontDatabase::SimplifiedChinese));
  // A family made for simplified Chinese is preferred when one is installed.
  bool regional = false;
  for (const QString& f : QFontDatabase::families(QFontDatabase::SimplifiedChinese))
    if (f.split(' ').contains("SC") || f.split(' ').contains("CN") || f.split(' ').contains("GB"))
      regional = true;
  if (regional) {
    const QStringList words = families[1].split(' ');
    EXPECT_TRUE(words.contains("SC") || words.contains("CN") || words.contains("GB"))
        << families[1].toStdString();
  }

  SetControlFont(&label, "", 0, 134);  // already there: not added twice
  EXPECT_EQ(label.font().families(), families);

  QLabel chinese("x");
  chinese.setFont(QFont(families[1], 10));
  SetControlFont(&chinese, "", 0, 134);  // the face writes it itself
  EXPECT_EQ(chinese.font().families(), QStringList({families[1]}));
}
