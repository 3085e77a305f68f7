// A panel with a raised outer bevel and a lowered inner bevel, each one pixel wide.
#pragma once

#include <QFrame>

class TBevelPanel : public QFrame {
  Q_OBJECT
 public:
  explicit TBevelPanel(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};
