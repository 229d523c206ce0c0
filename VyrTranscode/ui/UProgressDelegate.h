// Draws the progress cell of the file list: the grid's normal cell first, then a sky-blue
// bar for the row's progress (clamped to 0..100) with a dark outline, and "45%" centred
// over it. The row's mark changes that:
//   failed   the failure text in red instead of the bar, also on a selected row (which
//            then gets a light box behind the text);
//   warned   the bar in the warning colour;
//   stopped  the bar at its last progress, labelled with the stop text and the percentage;
//   skipped  the skip text instead of the bar.
#pragma once

#include <QStyledItemDelegate>

class TProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
             const QModelIndex& AIndex) const override;

  // The bar and the label for a progress value inside the cell ARect (used by paint; the
  // tests call it on an image). ALabel replaces the "45%" label when it is not null.
  static void DrawProgressBar(QPainter* APainter, const QRect& ARect, int AProgress,
                              const QFont& AFont, const QColor& AOutline, const QColor& AText,
                              const QColor& AFill = BarColor(), const QString& ALabel = QString());
  // The pixel width of the bar: the value's share of the cell width less 4, cut to whole
  // pixels; values outside 0..100 are clamped.
  static int BarWidth(int ACellWidth, int AProgress);
  static QColor BarColor() { return QColor(166, 202, 240); }
  static QColor WarningBarColor() { return QColor(250, 196, 84); }
  static QColor FailedTextColor() { return QColor(200, 0, 0); }
};
