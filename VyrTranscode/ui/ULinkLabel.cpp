#include "ui/ULinkLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

TLinkLabel::TLinkLabel(const QString& AText, QWidget* AParent) : QLabel(AText, AParent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
}

void TLinkLabel::keyPressEvent(QKeyEvent* AEvent) {
  switch (AEvent->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (!AEvent->isAutoRepeat()) emit Activated();
      AEvent->accept();
      return;
    default:
      QLabel::keyPressEvent(AEvent);
  }
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* AEvent) {
  if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint())) {
    AEvent->accept();
    emit Activated();
    return;
  }
  QLabel::mouseReleaseEvent(AEvent);
}

void TLinkLabel::paintEvent(QPaintEvent* AEvent) {
  QLabel::paintEvent(AEvent);
  if (!hasFocus()) return;
  // The frame hugs the text where the alignment puts it.
  const QRect text = style()->itemTextRect(fontMetrics(), contentsRect(), alignment(), isEnabled(), this->text());
  QStyleOptionFocusRect opt;
  opt.initFrom(this);
  opt.rect = text.adjusted(-2, 0, 2, 0).intersected(rect());
  opt.backgroundColor = palette().color(backgroundRole());
  QPainter p(this);
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
}
