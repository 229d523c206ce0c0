// The grid of the file list: whole rows, several selectable, read-only. Tab leaves the grid
// for the next control instead of walking its cells. While the list is empty it shows a
// hint in its middle. It asks for its context menu on a right click, on the Menu key and
// on Shift+F10 (from the keyboard the menu opens at the current row), and for the
// selected rows' removal on Delete; the window decides whether to grant either.
#pragma once

#include <QTableView>

class TFileListView : public QTableView {
  Q_OBJECT

 public:
  explicit TFileListView(QWidget* AParent = nullptr);

  void SetEmptyHint(const QString& AText);
  const QString& EmptyHint() const { return FEmptyHint; }
  // Where a menu asked for from the keyboard opens, in screen coordinates.
  QPoint KeyboardMenuPos() const;

 signals:
  void ContextMenuWanted(const QPoint& AGlobalPos);
  void DeleteWanted();

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override;
  void contextMenuEvent(QContextMenuEvent* AEvent) override;
  void paintEvent(QPaintEvent* AEvent) override;

 private:
  QString FEmptyHint;
};
