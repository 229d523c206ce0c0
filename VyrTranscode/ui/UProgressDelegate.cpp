#include "ui/UProgressDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "ui/UFileListModel.h"

namespace {
int Clamp100(int AValue) { return AValue < 0 ? 0 : (AValue > 100 ? 100 : AValue); }

// A mark's text in the middle of the cell; on a selected row a light box behind it keeps
// its colour readable.
void DrawMarkText(QPainter* APainter, const QStyleOptionViewItem& AOption, const QString& AText,
                  const QColor& AColor, bool AOnLightBox) {
  APainter->save();
  if (AOnLightBox) {
    const QRect box = AOption.rect.adjusted(2, 2, -2, -2);
    APainter->fillRect(box, AOption.palette.color(QPalette::Base));
  }
  APainter->setFont(AOption.font);
  APainter->setPen(AColor);
  APainter->drawText(AOption.rect, Qt::AlignCenter, AText);
  APainter->restore();
}
}  // namespace

int TProgressDelegate::BarWidth(int ACellWidth, int AProgress) {
  const int inner = ACellWidth - 4;
  if (inner <= 0) return 0;
  return static_cast<int>(static_cast<int64_t>(Clamp100(AProgress)) * inner / 100);
}

void TProgressDelegate::DrawProgressBar(QPainter* APainter, const QRect& ARect, int AProgress,
                                        const QFont& AFont, const QColor& AOutline,
                                        const QColor& AText, const QColor& AFill, const QString& ALabel) {
  const int value = Clamp100(AProgress);
  const int width = BarWidth(ARect.width(), value);
  APainter->save();
  if (width > 0 && ARect.height() > 2) {
    const QRect bar(ARect.left() + 1, ARect.top() + 1, width, ARect.height() - 2);
    APainter->fillRect(bar, AFill);
    APainter->setPen(QPen(AOutline, 1));
    APainter->setBrush(Qt::NoBrush);
    APainter->drawRect(bar.adjusted(0, 0, -1, -1));
  }
  QFont font = AFont;
  const QString label = ALabel.isNull() ? QString::number(value) + QLatin1Char('%') : ALabel;
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
  const auto mark = static_cast<TRowMark>(AIndex.data(TFileListModel::MarkRole).toInt());
  const QString markText = AIndex.data(TFileListModel::MarkTextRole).toString();
  const int progress = AIndex.data(TFileListModel::ProgressRole).toInt();
  const QColor text = AOption.palette.color(QPalette::Text);
  const QColor outline = AOption.palette.color(QPalette::Shadow);
  switch (mark) {
    case TRowMark::Failed:
      DrawMarkText(APainter, AOption, markText, FailedTextColor(), selected);
      return;
    case TRowMark::Skipped:
      DrawMarkText(APainter, AOption, markText,
                   selected ? AOption.palette.color(QPalette::HighlightedText)
                            : AOption.palette.color(QPalette::Disabled, QPalette::Text),
                   false);
      return;
    case TRowMark::Warned:
      DrawProgressBar(APainter, AOption.rect, progress, AOption.font, outline, text, WarningBarColor());
      return;
    case TRowMark::Stopped:
      DrawProgressBar(APainter, AOption.rect, progress, AOption.font, outline, text, BarColor(),
                      markText + QLatin1Char(' ') + QString::number(std::clamp(progress, 0, 100)) +
                          QLatin1Char('%'));
      return;
    case TRowMark::None:
      break;
  }
  DrawProgressBar(APainter, AOption.rect, progress, AOption.font, outline, text);
}
