#include "uMainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMessageBox>
#include <QScreen>

#include "jpeg_image.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "uProgress.h"
#include "ui_uMainForm.h"

// The artwork lives in a static library, whose resources must be registered by hand.
static void RegisterArtwork() {
  Q_INIT_RESOURCE(artwork);
}

namespace {

QImage LoadArtwork(const char* resource) {
  QFile file(resource);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  return QString(resource).endsWith(".jpg") ? tarsel::DecodeJpeg(bytes)
                                            : QImage::fromData(bytes, "BMP");
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), ui_(new Ui::TfrmMain) {
  ShellOpen = [](const std::string& file) { quern::platform::ShellOpen(file); };
  ShowInformation = [](QWidget* owner, const QString& text) {
    QMessageBox::information(owner, QApplication::applicationName(), text);
  };

  RegisterArtwork();
  ui_->setupUi(this);
  setFixedSize(583, 210);
  QFont windowFont("Verdana");
  windowFont.setPixelSize(13);
  setFont(windowFont);
  QFont buttonFont("Verdana");
  buttonFont.setPixelSize(13);
  buttonFont.setBold(true);
  for (QPushButton* button : {ui_->btn1, ui_->btn2, ui_->btn3})
    button->setFont(buttonFont);
  // The window shows the button face wherever the picture does not reach.
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);

  ui_->Image1->SetPicture(LoadArtwork(":/artwork/background.jpg"));
  ui_->RxSpeedButton1->SetGlyph(LoadArtwork(":/artwork/close.bmp"));

  connect(ui_->btn1, &QPushButton::clicked, this, &TfrmMain::btn1Click);
  connect(ui_->btn2, &QPushButton::clicked, this, &TfrmMain::btn2Click);
  connect(ui_->btn3, &QPushButton::clicked, this, &TfrmMain::btn3Click);
  connect(ui_->RxSpeedButton1, &QToolButton::clicked, this, &TfrmMain::RxSpeedButton1Click);

  UnBh1.Name = "UnBh1";
  UnBh1.SetCpuType(quern::cptAuto);
  UnBh1.SetCreateStoredDirs(true);
  UnBh1.SetFileSpec({"*.*"});
  UnBh1.OnProgress = [this](quern::TComponent* sender, std::uint8_t byFile,
                            std::uint8_t byArchive) { UnBh1Progress(sender, byFile, byArchive); };
  UnLha1.Name = "UnLha1";
  UnLha1.SetCpuType(quern::cptAuto);
  UnLha1.SetFileSpec({"*.*"});
  UnLha1.OnProgress = [this](quern::TComponent* sender, std::uint8_t byFile,
                             std::uint8_t byArchive) { UnLha1Progress(sender, byFile, byArchive); };
  // The windows repaint and take input while an archive is unpacked.
  for (quern::TZipCommon* unpacker :
       {static_cast<quern::TZipCommon*>(&UnBh1), static_cast<quern::TZipCommon*>(&UnLha1)})
    unpacker->SetProcessMessages([] { QCoreApplication::processEvents(); });

  FormCreate();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::FormCreate() {
  ShellOpen("intro.exe");
  tempDir_ = quern::platform::TempDirectory();
}

void TfrmMain::btn1Click() {
  LoadMaterial("materi1.nsz");
}
void TfrmMain::btn2Click() {
  LoadMaterial("materi2.nsz");
}
void TfrmMain::btn3Click() {
  LoadMaterial("materi3.nsz");
}
void TfrmMain::btn4Click() {
  LoadMaterial("materi4.nsz");
}
void TfrmMain::btn5Click() {
  LoadMaterial("materi5.nsz");
}
void TfrmMain::btn6Click() {
  LoadMaterial("materi6.nsz");
}

void TfrmMain::LoadMaterial(const QString& archiveName) {
  // One unpacking at a time: a second request while one runs is ignored.
  if (extracting_) return;
  const std::string archive = archiveName.toStdString();
  if (!quern::platform::FileExists(archive)) {
    ShowInformation(this, "Image File Not Found. Contact Your Vendor.");
    return;
  }
  extracting_ = true;
  setCursor(Qt::WaitCursor);
  if (frmProgress_ != nullptr) {
    frmProgress_->show();
    frmProgress_->SetPosition(0);
  }
  UnBh1.SetArchiveFile(archive);
  UnBh1.SetExtractDir(tempDir_);
  UnBh1.Extract();
  if (frmProgress_ != nullptr) frmProgress_->hide();
  unsetCursor();
  extracting_ = false;

  if (quitRequested_) {
    QApplication::quit();
    return;
  }
  ShellOpen(tempDir_ + "pilihbahasa.exe");
}

void TfrmMain::UnBh1Progress(quern::TComponent*, std::uint8_t, std::uint8_t ByArchive) {
  if (frmProgress_ != nullptr) frmProgress_->SetPosition(ByArchive);
}

void TfrmMain::UnLha1Progress(quern::TComponent*, std::uint8_t, std::uint8_t ByArchive) {
  if (frmProgress_ != nullptr) frmProgress_->SetPosition(ByArchive);
}

void TfrmMain::RxSpeedButton1Click() {
  if (extracting_) {
    // The run winds down at its next block; the program ends when it returns.
    quitRequested_ = true;
    UnBh1.SetCancel(true);
    return;
  }
  QApplication::quit();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (const QScreen* s = screen()) move(s->geometry().center() - rect().center());
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (extracting_) {
    event->ignore();
    RxSpeedButton1Click();
    return;
  }
  QWidget::closeEvent(event);
}
