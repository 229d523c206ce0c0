#include "support/uUpdateLanguage.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAction>
#include <QDockWidget>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QSizeGrip>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>

namespace LangToolkit {

namespace {

// The child widgets of an object, in creation order.
std::vector<QWidget*> ChildWidgets(const QWidget* AParent) {
  std::vector<QWidget*> result;
  for (QObject* child : AParent->children())
    if (child->isWidgetType()) result.push_back(static_cast<QWidget*>(child));
  return result;
}

bool IsExactly(const QWidget* AWidget, const QMetaObject& AClass) {
  return AWidget->metaObject() == &AClass;
}

// The widgets a plain container holds for its owner; empty for anything that is no
// plain container (a control keeps its inner widgets to itself).
std::vector<QWidget*> ContainerContent(const QWidget* AWidget) {
  std::vector<QWidget*> result;
  if (auto* tabs = qobject_cast<const QTabWidget*>(AWidget)) {
    for (int i = 0; i < tabs->count(); ++i) result.push_back(tabs->widget(i));
  } else if (auto* stack = qobject_cast<const QStackedWidget*>(AWidget)) {
    for (int i = 0; i < stack->count(); ++i) result.push_back(stack->widget(i));
  } else if (auto* splitter = qobject_cast<const QSplitter*>(AWidget)) {
    for (int i = 0; i < splitter->count(); ++i) result.push_back(splitter->widget(i));
  } else if (auto* scroll = qobject_cast<const QScrollArea*>(AWidget)) {
    if (scroll->widget()) result.push_back(scroll->widget());
  } else if (auto* dock = qobject_cast<const QDockWidget*>(AWidget)) {
    if (dock->widget()) result.push_back(dock->widget());
  } else if (IsExactly(AWidget, QWidget::staticMetaObject) ||
             IsExactly(AWidget, QFrame::staticMetaObject) ||
             IsExactly(AWidget, QGroupBox::staticMetaObject)) {
    result = ChildWidgets(AWidget);
  }
  return result;
}

void CollectComponents(const std::vector<QWidget*>& AWidgets, std::vector<QWidget*>& AOut) {
  for (QWidget* w : AWidgets) {
    if (!w) continue;
    // Dialogs and other windows parented to the form are no part of it; popup menus are.
    if (w->isWindow() && !IsMenu(w)) continue;
    AOut.push_back(w);
    if (!IsFrame(w)) CollectComponents(ContainerContent(w), AOut);
  }
}

// The tab widget that shows a page, or null when the widget is no tab page.
QTabWidget* TabWidgetOfPage(const QWidget* APage) {
  auto* stack = qobject_cast<QStackedWidget*>(APage->parentWidget());
  if (!stack) return nullptr;
  auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget());
  if (!tabs || tabs->indexOf(APage) < 0) return nullptr;
  return tabs;
}

void CollectLayoutWidgets(const QLayout* ALayout, std::vector<QWidget*>& AOut) {
  for (int i = 0; i < ALayout->count(); ++i) {
    QLayoutItem* item = ALayout->itemAt(i);
    if (!item) continue;
    if (QWidget* w = item->widget()) {
      if (!qobject_cast<QSizeGrip*>(w)) AOut.push_back(w);
    } else if (QLayout* inner = item->layout()) {
      CollectLayoutWidgets(inner, AOut);
    }
  }
}

QAbstractItemModel* GridModel(const QWidget* AGrid) {
  auto* view = qobject_cast<const QAbstractItemView*>(AGrid);
  return view && IsDataGrid(AGrid) ? view->model() : nullptr;
}

// Name parts that tell which region's glyphs a CJK family draws ("Noto Sans CJK SC").
QStringList RegionTags(QFontDatabase::WritingSystem AWritingSystem) {
  switch (AWritingSystem) {
    case QFontDatabase::SimplifiedChinese:
      return {"SC", "CN", "GB"};
    case QFontDatabase::TraditionalChinese:
      return {"TC", "TW", "HK"};
    case QFontDatabase::Japanese:
      return {"JP"};
    case QFontDatabase::Korean:
      return {"KR"};
    default:
      return {};
  }
}

// An installed family that writes the writing system; for Chinese, Japanese and Korean
// one made for that region when there is one.
QString FallbackFamily(QFontDatabase::WritingSystem AWritingSystem) {
  QStringList candidates;
  for (const QString& family : QFontDatabase::families(AWritingSystem))
    if (!QFontDatabase::isPrivateFamily(family)) candidates << family;
  if (candidates.isEmpty()) return QString();
  const QStringList tags = RegionTags(AWritingSystem);
  for (const QString& family : candidates) {
    const QStringList words = family.split(' ', Qt::SkipEmptyParts);
    for (const QString& tag : tags)
      if (words.contains(tag)) return family;
  }
  return candidates.first();
}

bool FamilyWrites(const QString& AFamily, QFontDatabase::WritingSystem AWritingSystem) {
  return QFontDatabase::writingSystems(AFamily).contains(AWritingSystem);
}

void EnsureWritingSystem(QFont& AFont, QFontDatabase::WritingSystem AWritingSystem) {
  if (FamilyWrites(QFontInfo(AFont).family(), AWritingSystem)) return;
  QStringList families = AFont.families();
  if (families.isEmpty()) families << AFont.family();
  for (const QString& family : families)
    if (FamilyWrites(family, AWritingSystem)) return;
  const QString fallback = FallbackFamily(AWritingSystem);
  if (fallback.isEmpty()) return;
  families << fallback;
  AFont.setFamilies(families);
}

}  // namespace

// ---- Forms and components -----------------------------------------------------------

QString ComponentName(const QObject* AComponent) {
  return AComponent ? AComponent->objectName() : QString();
}

bool IsForm(const QWidget* AWidget) { return AWidget && AWidget->isWindow(); }

QString FormCaption(const QWidget* AForm) { return AForm->windowTitle(); }

void SetFormCaption(QWidget* AForm, const QString& ACaption) { AForm->setWindowTitle(ACaption); }

std::vector<QWidget*> OwnedComponents(const QWidget* AOwner) {
  std::vector<QWidget*> result;
  if (AOwner) CollectComponents(ChildWidgets(AOwner), result);
  return result;
}

// ---- Class tests --------------------------------------------------------------------

bool IsMenu(const QWidget* AWidget) {
  return qobject_cast<const QMenu*>(AWidget) || qobject_cast<const QMenuBar*>(AWidget);
}

bool IsPageControl(const QWidget* AWidget) { return qobject_cast<const QTabWidget*>(AWidget); }

bool IsDataGrid(const QWidget* AWidget) {
  return qobject_cast<const QTableView*>(AWidget) || qobject_cast<const QTreeView*>(AWidget);
}

bool IsStatusBar(const QWidget* AWidget) { return qobject_cast<const QStatusBar*>(AWidget); }

bool IsFrame(const QWidget* AWidget) { return dynamic_cast<const TFrame*>(AWidget) != nullptr; }

bool IsControl(const QWidget* AWidget) { return AWidget && !IsMenu(AWidget); }

// ---- Menus --------------------------------------------------------------------------

std::vector<QAction*> MenuItems(const QWidget* AMenu) {
  std::vector<QAction*> result;
  if (!IsMenu(AMenu)) return result;
  for (QAction* action : AMenu->actions())
    if (!action->isSeparator()) result.push_back(action);
  return result;
}

QWidget* MenuSubMenu(const QAction* AItem) { return AItem ? AItem->menu() : nullptr; }

std::vector<QAction*> MenuSubItems(const QAction* AItem) {
  QMenu* sub = AItem->menu();
  return sub ? MenuItems(sub) : std::vector<QAction*>();
}

QString MenuItemName(const QAction* AItem) {
  QString name = AItem->objectName();
  if (name.isEmpty()) {
    if (QMenu* sub = AItem->menu()) name = sub->objectName();
  }
  return name;
}

QString MenuItemCaption(const QAction* AItem) { return AItem->text(); }

void SetMenuItemCaption(QAction* AItem, const QString& ACaption) { AItem->setText(ACaption); }

// ---- Page controls ------------------------------------------------------------------

std::vector<QWidget*> Pages(const QWidget* APageControl) {
  std::vector<QWidget*> result;
  if (auto* tabs = qobject_cast<const QTabWidget*>(APageControl))
    for (int i = 0; i < tabs->count(); ++i) result.push_back(tabs->widget(i));
  return result;
}

QString PageCaption(const QWidget* APage) {
  QTabWidget* tabs = TabWidgetOfPage(APage);
  return tabs ? tabs->tabText(tabs->indexOf(APage)) : QString();
}

void SetPageCaption(QWidget* APage, const QString& ACaption) {
  if (QTabWidget* tabs = TabWidgetOfPage(APage)) tabs->setTabText(tabs->indexOf(APage), ACaption);
}

// ---- Data grids ---------------------------------------------------------------------

int GridColumnCount(const QWidget* AGrid) {
  QAbstractItemModel* model = GridModel(AGrid);
  return model ? model->columnCount() : 0;
}

QString GridColumnTitle(const QWidget* AGrid, int AColumn) {
  QAbstractItemModel* model = GridModel(AGrid);
  return model ? model->headerData(AColumn, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
}

void SetGridColumnTitle(QWidget* AGrid, int AColumn, const QString& ATitle) {
  if (QAbstractItemModel* model = GridModel(AGrid))
    model->setHeaderData(AColumn, Qt::Horizontal, ATitle, Qt::DisplayRole);
}

// ---- Status bars --------------------------------------------------------------------

std::vector<QWidget*> StatusPanels(const QWidget* AStatusBar) {
  std::vector<QWidget*> result;
  if (IsStatusBar(AStatusBar) && AStatusBar->layout())
    CollectLayoutWidgets(AStatusBar->layout(), result);
  return result;
}

// ---- Caption and font properties ------------------------------------------------------

bool HasCaption(const QWidget* AWidget) {
  return qobject_cast<const QLabel*>(AWidget) || qobject_cast<const QAbstractButton*>(AWidget) ||
         qobject_cast<const QGroupBox*>(AWidget) || (AWidget && TabWidgetOfPage(AWidget));
}

QString Caption(const QWidget* AWidget) {
  if (auto* label = qobject_cast<const QLabel*>(AWidget)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(AWidget)) return button->text();
  if (auto* group = qobject_cast<const QGroupBox*>(AWidget)) return group->title();
  if (AWidget) return PageCaption(AWidget);
  return QString();
}

void SetCaption(QWidget* AWidget, const QString& ACaption) {
  if (auto* label = qobject_cast<QLabel*>(AWidget)) {
    label->setText(ACaption);
  } else if (auto* button = qobject_cast<QAbstractButton*>(AWidget)) {
    button->setText(ACaption);
  } else if (auto* group = qobject_cast<QGroupBox*>(AWidget)) {
    group->setTitle(ACaption);
  } else if (AWidget) {
    SetPageCaption(AWidget, ACaption);
  }
}

QFontDatabase::WritingSystem CharSetWritingSystem(int ACharSet) {
  // DEFAULT_CHARSET (1), MAC_CHARSET (77), OEM_CHARSET (255) and unknown numbers: none.
  static const std::pair<int, QFontDatabase::WritingSystem> table[] = {
      {0, QFontDatabase::Latin},                 // ANSI_CHARSET
      {2, QFontDatabase::Symbol},                // SYMBOL_CHARSET
      {128, QFontDatabase::Japanese},            // SHIFTJIS_CHARSET
      {129, QFontDatabase::Korean},              // HANGEUL_CHARSET
      {130, QFontDatabase::Korean},              // JOHAB_CHARSET
      {134, QFontDatabase::SimplifiedChinese},   // GB2312_CHARSET
      {136, QFontDatabase::TraditionalChinese},  // CHINESEBIG5_CHARSET
      {161, QFontDatabase::Greek},               // GREEK_CHARSET
      {162, QFontDatabase::Latin},               // TURKISH_CHARSET
      {163, QFontDatabase::Vietnamese},          // VIETNAMESE_CHARSET
      {177, QFontDatabase::Hebrew},              // HEBREW_CHARSET
      {178, QFontDatabase::Arabic},              // ARABIC_CHARSET
      {186, QFontDatabase::Latin},               // BALTIC_CHARSET
      {204, QFontDatabase::Cyrillic},            // RUSSIAN_CHARSET
      {222, QFontDatabase::Thai},                // THAI_CHARSET
      {238, QFontDatabase::Latin},               // EASTEUROPE_CHARSET
  };
  for (const auto& entry : table)
    if (entry.first == ACharSet) return entry.second;
  return QFontDatabase::Any;
}

void SetControlFont(QWidget* AWidget, const QString& AFontName, int AFontSize, int ACharSet) {
  if (!AWidget) return;
  QFont font = AWidget->font();
  if (!AFontName.isEmpty()) font.setFamily(AFontName);
  if (AFontSize > 0)
    font.setPointSize(AFontSize);
  else if (AFontSize < 0)
    font.setPixelSize(-AFontSize);
  if (ACharSet != -1) {
    const QFontDatabase::WritingSystem ws = CharSetWritingSystem(ACharSet);
    if (ws != QFontDatabase::Any) EnsureWritingSystem(font, ws);
  }
  // A control whose font nothing changed keeps following its parent's font.
  if (font != AWidget->font() || font.families() != AWidget->font().families())
    AWidget->setFont(font);
}

}  // namespace LangToolkit
