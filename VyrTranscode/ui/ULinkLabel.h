// A label used as a link: a hand cursor, activated by a left click inside it, and by
// Enter, Return or Space while it has the keyboard focus; it takes the focus by Tab and
// by a click, and shows a focus frame around its text while it has it.
#pragma once

#include <QLabel>

class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TLinkLabel(const QString& AText, QWidget* AParent = nullptr);

 signals:
  void Activated();

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override;
  void mouseReleaseEvent(QMouseEvent* AEvent) override;
  void paintEvent(QPaintEvent* AEvent) override;
};
