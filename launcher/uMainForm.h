// The menu window: the background picture, the three material buttons and the close button.
// Choosing a material unpacks its archive into the user's private temporary directory while the
// progress window follows, then starts "pilihbahasa.exe" from there.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "engine/bh/un_bh.h"
#include "engine/lha/un_lha.h"

namespace Ui {
class TfrmMain;
}
class TfrmProgress;

class TfrmMain : public QWidget {
  Q_OBJECT
 public:
  // Runs FormCreate: starts "intro.exe" and records the temporary directory.
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // The progress window the material actions show; created after the menu window.
  void SetProgressWindow(TfrmProgress* window) { frmProgress_ = window; }

  quern::TUnBh UnBh1;    // unpacks the material archives
  quern::TUnLha UnLha1;  // set up like UnBh1; no material uses it

  // The user's temporary directory in the engine's form, ending in "\".
  const std::string& TempDir() const { return tempDir_; }
  bool Extracting() const { return extracting_; }

  // How the window reaches the desktop; tests put recorders here.
  std::function<void(const std::string& file)> ShellOpen;
  std::function<void(QWidget* parent, const QString& text)> ShowInformation;

 public slots:
  void FormCreate();
  void btn1Click();
  void btn2Click();
  void btn3Click();
  void btn4Click();
  void btn5Click();
  void btn6Click();
  void LoadMaterial(const QString& archiveName);
  void RxSpeedButton1Click();

 public:
  void UnBh1Progress(quern::TComponent* Sender, std::uint8_t ByFile, std::uint8_t ByArchive);
  void UnLha1Progress(quern::TComponent* Sender, std::uint8_t ByFile, std::uint8_t ByArchive);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  std::unique_ptr<Ui::TfrmMain> ui_;
  TfrmProgress* frmProgress_ = nullptr;
  std::string tempDir_;
  bool extracting_ = false;     // a material is being unpacked
  bool quitRequested_ = false;  // close was chosen during an extraction
};
