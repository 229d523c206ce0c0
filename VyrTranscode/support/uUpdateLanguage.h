// What the language engine needs of the widget toolkit, on Qt Widgets.
//
//   form         a top-level QWidget (isWindow()); component name = objectName(), caption =
//                windowTitle().
//   components   the widgets a form (or a frame) owns, depth first in creation order: its
//                child widgets, and the widgets inside the plain containers among them
//                (QWidget, QFrame, QGroupBox by exact class; the pages of QTabWidget,
//                QStackedWidget, QSplitter; the content of QScrollArea, QDockWidget), just
//                as a form owns the controls placed on its panels. Never the inside of a
//                frame (the frame owns that), of a menu, status bar, data grid or any other
//                control, nor child windows other than menus. Non-widget objects (actions,
//                timers, models) are no components.
//   menu         a QMenuBar or QMenu; its items are its QActions in order (separators
//                skipped), item name = the action's objectName() or, for a sub-menu item
//                without one, the sub-menu's objectName(); caption = text(); sub-items =
//                the actions of the action's sub-menu, at any depth.
//   page control a QTabWidget; pages = its tab widgets (name = objectName(), caption = tab
//                text). A tab page's caption property is its tab text.
//   data grid    a QTableView or QTreeView; column i's title = its model's horizontal header
//                data (DisplayRole), written with setHeaderData (a model that refuses keeps
//                its title).
//   status bar   a QStatusBar; panels = the widgets added to it, in display order (the size
//                grip is none); a panel's text = its caption property.
//   frame        a TFrame (below): a reusable composite widget that owns its components;
//                frames nest.
//   control      any QWidget but a menu.
//   caption      QLabel and QAbstractButton text, QGroupBox title, a tab page's tab text.
//   font         QWidget::font()/setFont(). The face and the point size map directly (a
//                negative size is a pixel height). Qt fonts carry no character set, so the
//                Windows character-set number names a writing system instead (GB2312 =
//                Simplified Chinese, BIG5 = Traditional Chinese, SHIFTJIS = Japanese, ...);
//                when the font Qt resolves for the control cannot write it, an installed
//                family that can is appended as the font's fallback family, which also
//                picks the right regional glyphs for Han characters. DEFAULT_CHARSET (1),
//                MAC_CHARSET (77), OEM_CHARSET (255) and unknown numbers have no writing
//                system and are ignored; the Latin code pages (ANSI, EASTEUROPE, TURKISH,
//                BALTIC) map to Latin.
//
// Components without an objectName() have no language keys: they are skipped for texts
// (menu walks still go into their sub-items) but still take the language font.
#pragma once

#include <QFontDatabase>
#include <QFrame>
#include <QString>

#include <vector>

class QAction;
class QFont;

// A reusable composite widget whose components belong to it, not to the form it sits on:
// their language keys carry the frame's name as a prefix ("frmTools.btnGo.Caption").
class TFrame : public QFrame {
 public:
  using QFrame::QFrame;
};

namespace LangToolkit {

// ---- Forms and components ---------------------------------------------------------

QString ComponentName(const QObject* AComponent);
bool IsForm(const QWidget* AWidget);
QString FormCaption(const QWidget* AForm);
void SetFormCaption(QWidget* AForm, const QString& ACaption);
// The components a form or a frame owns, in order (see above).
std::vector<QWidget*> OwnedComponents(const QWidget* AOwner);

// ---- Class tests ------------------------------------------------------------------

bool IsMenu(const QWidget* AWidget);
bool IsPageControl(const QWidget* AWidget);
bool IsDataGrid(const QWidget* AWidget);
bool IsStatusBar(const QWidget* AWidget);
bool IsFrame(const QWidget* AWidget);
bool IsControl(const QWidget* AWidget);

// ---- Menus ------------------------------------------------------------------------

// The items of a menu or a menu bar (separators left out).
std::vector<QAction*> MenuItems(const QWidget* AMenu);
// The sub-menu of an item, or null.
QWidget* MenuSubMenu(const QAction* AItem);
// The sub-items of an item with a sub-menu; empty otherwise.
std::vector<QAction*> MenuSubItems(const QAction* AItem);
QString MenuItemName(const QAction* AItem);
QString MenuItemCaption(const QAction* AItem);
void SetMenuItemCaption(QAction* AItem, const QString& ACaption);

// ---- Page controls ----------------------------------------------------------------

std::vector<QWidget*> Pages(const QWidget* APageControl);
QString PageCaption(const QWidget* APage);
void SetPageCaption(QWidget* APage, const QString& ACaption);

// ---- Data grids -------------------------------------------------------------------

int GridColumnCount(const QWidget* AGrid);
QString GridColumnTitle(const QWidget* AGrid, int AColumn);
void SetGridColumnTitle(QWidget* AGrid, int AColumn, const QString& ATitle);

// ---- Status bars ------------------------------------------------------------------

std::vector<QWidget*> StatusPanels(const QWidget* AStatusBar);

// ---- Caption and font properties ----------------------------------------------------

bool HasCaption(const QWidget* AWidget);
QString Caption(const QWidget* AWidget);
void SetCaption(QWidget* AWidget, const QString& ACaption);

// The writing system a Windows character-set number stands for; Any when it has none.
QFontDatabase::WritingSystem CharSetWritingSystem(int ACharSet);
// Sets the face when AFontName is not empty, the size when AFontSize is not 0, and the
// writing system of ACharSet when it is not -1 (see above).
void SetControlFont(QWidget* AWidget, const QString& AFontName, int AFontSize, int ACharSet);

}  // namespace LangToolkit
