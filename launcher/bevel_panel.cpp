#include "bevel_panel.h"

#include <qdrawutil.h>

#include <QPainter>

TBevelPanel::TBevelPanel(QWidget* parent) : QFrame(parent) {
  setAutoFillBackground(true);
  setContentsMargins(2, 2, 2, 2);
}

void TBevelPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  qDrawShadePanel(&painter, rect(), palette(), false, 1);
  qDrawShadePanel(&painter, rect().adjusted(1, 1, -1, -1), palette(), true, 1);
}
