// Draws the progress cell of the file list: the grid's normal cell first, then a sky-blue
// bar for the row's progress (clamped to 0..100) with a dark outline, and "45%" centred
// over it. A row whose conversion failed shows the failure text in red instead.
#pragma once

#include <QStyledItemDelegate>

class TProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
             const QModelIndex& AIndex) const override;

  // The bar and the label for a progress value inside the cell ARect (used by paint; the
  // tests call it on an image).
  static void DrawProgressBar(QPainter* APainter, const QRect& ARect, int AProgress,
                              const QFont& AFont, const QColor& AOutline, const QColor& AText);
  // The pixel width of the bar: the value's share of the cell width less 4, cut to whole
  // pixels; values outside 0..100 are clamped.
  static int BarWidth(int ACellWidth, int AProgress);
  static QColor BarColor() { return QColor(166, 202, 240); }
};
