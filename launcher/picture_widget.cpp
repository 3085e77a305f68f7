#include "picture_widget.h"

#include <qdrawutil.h>

#include <QBitmap>
#include <QPainter>
#include <QStyleOption>

TPictureWidget::TPictureWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TPictureWidget::SetPicture(QImage picture) {
  picture_ = std::move(picture);
  update();
}

QRect TPictureWidget::PictureRect() const {
  if (picture_.isNull()) return {};
  const qint64 pw = picture_.width(), ph = picture_.height();
  qint64 w = width(), h = w * ph / pw;
  if (h > height()) {
    h = height();
    w = h * pw / ph;
  }
  return QRect(0, 0, static_cast<int>(w), static_cast<int>(h));
}

void TPictureWidget::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(PictureRect(), picture_);
}

TRxSpeedButton::TRxSpeedButton(QWidget* parent) : QToolButton(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAutoRaise(true);
  setAttribute(Qt::WA_Hover);
}

void TRxSpeedButton::SetGlyph(const QImage& glyph) {
  glyph_ = QPixmap::fromImage(glyph);
  if (!glyph.isNull()) {
    const QRgb key = glyph.pixel(0, glyph.height() - 1);
    glyph_.setMask(QBitmap::fromImage(glyph.createMaskFromColor(key, Qt::MaskInColor)));
  }
  update();
}

void TRxSpeedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // Flat: the frame appears only under the mouse, sunken while pressed.
  if (isDown() || underMouse()) qDrawShadePanel(&painter, rect(), palette(), isDown(), 1);
  const int shift = isDown() ? 1 : 0;
  painter.drawPixmap(shift, shift, glyph_);
}
