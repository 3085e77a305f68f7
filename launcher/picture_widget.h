// The menu window's picture control and its flat close button.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QToolButton>
#include <QWidget>

// Shows a picture stretched with its proportions kept, from the top-left corner, not centred:
// a picture wider than the control takes the control's width and the height that keeps its
// aspect, truncated to whole pixels; what it leaves uncovered shows the parent's background.
class TPictureWidget : public QWidget {
  Q_OBJECT
 public:
  explicit TPictureWidget(QWidget* parent = nullptr);

  void SetPicture(QImage picture);
  const QImage& Picture() const { return picture_; }
  // Where the picture is drawn inside the control.
  QRect PictureRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

// A flat speed button: no frame until the mouse is over it, never takes the keyboard focus,
// and draws its glyph from its top-left corner with the glyph's bottom-left colour transparent.
class TRxSpeedButton : public QToolButton {
  Q_OBJECT
 public:
  explicit TRxSpeedButton(QWidget* parent = nullptr);

  void SetGlyph(const QImage& glyph);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap glyph_;
};
