// Tarsel: the course-material launcher.
#include <QApplication>

#include "uMainForm.h"
#include "uProgress.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tarsel");
  QApplication::setApplicationDisplayName("Tarsel");

  TfrmMain frmMain;
  TfrmProgress frmProgress;
  frmMain.SetProgressWindow(&frmProgress);
  frmMain.show();
  return QApplication::exec();
}
