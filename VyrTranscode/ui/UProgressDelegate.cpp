#include "ui/UProgressDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

#include "ui/UFileListModel.h"

namespace {
int Clamp100(int AValue) { return AValue < 0 ? 0 : (AValue > 100 ? 100 : AValue); }
}  // namespace

int TProgressDelegate::BarWidth(int ACellWidth, int AProgress) {
  const int inner = ACellWidth - 4;
  if (inner <= 0) return 0;
  return static_cast<int>(static_cast<int64_t>(Clamp100(AProgress)) * inner / 100);
}

void TProgressDelegate::DrawProgressBar(QPainter* APainter, const QRect& ARect, int AProgress,
                                        const QFont& AFont, const QColor& AOutline,
                                        const QColor& AText) {
  const int value = Clamp100(AProgress);
  const int width = BarWidth(ARect.width(), value);
  APainter->save();
  if (width > 0 && ARect.height() > 2) {
    const QRect bar(ARect.left() + 1, ARect.top() + 1, width, ARect.height() - 2);
    APainter->fillRect(bar, BarColor());
    APainter->setPen(QPen(AOutline, 1));
    APainter->setBrush(Qt::NoBrush);
    APainter->drawRect(bar.adjusted(0, 0, -1, -1));
  }
  QFont font = AFont;
  const QString label = QString::number(value) + QLatin1Char('%');
  if (QFontMetrics(font).height() >= ARect.height()) {
    if (font.pointSizeF() > 1) font.setPointSizeF(font.pointSizeF() - 1);
    else if (font.pixelSize() > 1) font.setPixelSize(font.pixelSize() - 1);
  }
  APainter->setFont(font);
  APainter->setPen(AText);
  APainter->drawText(ARect, Qt::AlignCenter, label);
  APainter->restore();
}

void TProgressDelegate::paint(QPainter* APainter, const QStyleOptionViewItem& AOption,
                              const QModelIndex& AIndex) const {
  // The grid's own drawing first: background, selection; the column has no text of its own.
  QStyleOptionViewItem opt = AOption;
  initStyleOption(&opt, AIndex);
  opt.text.clear();
  const QWidget* widget = AOption.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, APainter, widget);

  const bool selected = AOption.state & QStyle::State_Selected;
  if (AIndex.data(TFileListModel::FailedRole).toBool()) {
    APainter->save();
    APainter->setFont(AOption.font);
    APainter->setPen(QColor(200, 0, 0));
    if (selected) APainter->setPen(QColor(255, 200, 200));
    APainter->drawText(AOption.rect, Qt::AlignCenter,
                       AIndex.data(TFileListModel::FailedTextRole).toString());
    APainter->restore();
    return;
  }
  const QColor text = AOption.palette.color(QPalette::Text);
  DrawProgressBar(APainter, AOption.rect, AIndex.data(TFileListModel::ProgressRole).toInt(),
                  AOption.font, AOption.palette.color(QPalette::Shadow), text);
}
