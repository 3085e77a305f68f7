#include "uProgress.h"

#include "ui_uProgress.h"

TfrmProgress::TfrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui_(new Ui::TfrmProgress) {
  ui_->setupUi(this);
  setFixedSize(374, 48);
  QFont font("Tahoma");
  font.setPixelSize(13);
  setFont(font);
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  // Shown at its own place on the screen, not related to the menu window.
  move(461, 525);
  FormCreate();
}

TfrmProgress::~TfrmProgress() = default;

QProgressBar* TfrmProgress::ProgressBar1() const {
  return ui_->ProgressBar1;
}

void TfrmProgress::SetPosition(int position) {
  ui_->ProgressBar1->setValue(position);
  ui_->ProgressBar1->repaint();
}

void TfrmProgress::FormCreate() {
  SetPosition(0);
}
