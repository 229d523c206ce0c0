#include "ui/UFileListView.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPainter>

TFileListView::TFileListView(QWidget* AParent) : QTableView(AParent) {
  setTabKeyNavigation(false);
  setContextMenuPolicy(Qt::DefaultContextMenu);
}

void TFileListView::SetEmptyHint(const QString& AText) {
  FEmptyHint = AText;
  viewport()->update();
}

QPoint TFileListView::KeyboardMenuPos() const {
  QModelIndex at = currentIndex();
  if (!at.isValid() && selectionModel() && !selectionModel()->selectedRows().isEmpty())
    at = selectionModel()->selectedRows().first();
  QRect r = at.isValid() ? visualRect(at.siblingAtColumn(0)) : QRect();
  if (!r.isValid() || !viewport()->rect().intersects(r)) r = QRect(0, 0, 16, 16);
  return viewport()->mapToGlobal(r.bottomLeft() + QPoint(8, 0));
}

void TFileListView::keyPressEvent(QKeyEvent* AEvent) {
  const int key = AEvent->key();
  const Qt::KeyboardModifiers mods = AEvent->modifiers() & ~Qt::KeypadModifier;
  if (key == Qt::Key_Delete && mods == Qt::NoModifier) {
    AEvent->accept();
    emit DeleteWanted();
    return;
  }
  if ((key == Qt::Key_Menu && mods == Qt::NoModifier) || (key == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
    AEvent->accept();
    emit ContextMenuWanted(KeyboardMenuPos());
    return;
  }
  QTableView::keyPressEvent(AEvent);
}

void TFileListView::contextMenuEvent(QContextMenuEvent* AEvent) {
  AEvent->accept();
  // Some platforms follow the Menu key with a context menu event of their own: it opens
  // the menu at the current row too, and the window opens no second one.
  emit ContextMenuWanted(AEvent->reason() == QContextMenuEvent::Mouse ? AEvent->globalPos() : KeyboardMenuPos());
}

void TFileListView::paintEvent(QPaintEvent* AEvent) {
  QTableView::paintEvent(AEvent);
  if (FEmptyHint.isEmpty() || !model() || model()->rowCount() > 0) return;
  QPainter p(viewport());
  QColor c = palette().color(QPalette::PlaceholderText);
  if (!c.isValid() || c.alpha() == 0) c = palette().color(QPalette::Disabled, QPalette::Text);
  p.setPen(c);
  const QRect area = viewport()->rect().adjusted(24, 0, -24, 0);
  p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, FEmptyHint);
}
