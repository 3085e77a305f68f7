// The progress window: a borderless strip at a fixed screen position with a label and a bar
// that follows how much of the archive has been unpacked.
#pragma once

#include <QProgressBar>
#include <QWidget>
#include <memory>

namespace Ui {
class TfrmProgress;
}

class TfrmProgress : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmProgress(QWidget* parent = nullptr);
  ~TfrmProgress() override;

  QProgressBar* ProgressBar1() const;

  // Sets the bar and repaints it at once: an extraction keeps the thread busy between reports.
  void SetPosition(int position);

 public slots:
  void FormCreate();

 private:
  std::unique_ptr<Ui::TfrmProgress> ui_;
};
