// The launcher's windows and handlers, headless (QT_QPA_PLATFORM=offscreen).
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "common/bh_writer.h"
#include "common/scratch_dir.h"
#include "picture_widget.h"
#include "uMainForm.h"
#include "uProgress.h"

using quern::test::BhEntry;
using quern::test::BuildBhArchive;
using quern::test::Bytes;
using quern::test::PatternBytes;

class WindowsTest : public QObject {
  Q_OBJECT

 private:
  // The menu and progress windows as the program makes them, with the desktop replaced by
  // recorders.
  struct Launcher {
    TfrmMain main;
    TfrmProgress progress;
    QStringList opened;
    QStringList informed;
    Launcher() {
      main.SetProgressWindow(&progress);
      main.ShellOpen = [this](const std::string& file) { opened << QString::fromStdString(file); };
      main.ShowInformation = [this](QWidget*, const QString& text) { informed << text; };
    }
  };

  quern::test::ScratchDir medium_;  // the current directory: where the archives lie
  QByteArray tmpdir_;

  static QColor ButtonFace() { return QApplication::palette().color(QPalette::Button); }
  void PutArchive(const char* name, const Bytes& bytes) {
    quern::test::WriteFileBytes(medium_ / name, bytes);
  }

 private slots:
  void initTestCase() {
    // The private temporary directory lives below this test's own TMPDIR.
    tmpdir_ = QByteArray::fromStdString((medium_ / "tmp").string());
    QDir().mkpath(QString::fromUtf8(tmpdir_));
    qputenv("TMPDIR", tmpdir_);
    QDir::setCurrent(QString::fromStdString(medium_.path().string()));
  }

  void menuWindow_HasTheDesignedLayout() {
    Launcher l;
    TfrmMain& w = l.main;
    QCOMPARE(w.size(), QSize(583, 210));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w.windowTitle(), QString("Tarsel"));
    QCOMPARE(w.font().family(), QString("Verdana"));
    QCOMPARE(w.font().pixelSize(), 13);
    QCOMPARE(w.findChild<QWidget*>("Image1")->geometry(), QRect(0, 0, 583, 210));

    auto* close = w.findChild<TRxSpeedButton*>("RxSpeedButton1");
    QCOMPARE(close->geometry(), QRect(553, 0, 28, 29));
    QCOMPARE(close->focusPolicy(), Qt::NoFocus);
    QCOMPARE(close->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(close->text().isEmpty());

    const struct {
      const char* name;
      const char* caption;
      QRect geometry;
    } buttons[] = {{"btn1", "MATERI I", QRect(128, 128, 113, 25)},
                   {"btn2", "MATERI II", QRect(264, 128, 113, 25)},
                   {"btn3", "MATERI III", QRect(400, 128, 113, 25)}};
    QWidget* previous = nullptr;
    for (const auto& b : buttons) {
      auto* button = w.findChild<QPushButton*>(b.name);
      QVERIFY2(button, b.name);
      QCOMPARE(button->text(), QString(b.caption));
      QCOMPARE(button->geometry(), b.geometry);
      QCOMPARE(button->font().family(), QString("Verdana"));
      QCOMPARE(button->font().pixelSize(), 13);
      QVERIFY(button->font().bold());
      QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
      QVERIFY(!(button->focusPolicy() & Qt::TabFocus));  // not a tab stop
      if (previous != nullptr) QCOMPARE(previous->nextInFocusChain(), button);
      previous = button;
    }
    // Drawing order: picture, close button, then the three buttons on top.
    const QObjectList children = w.children();
    QVERIFY(children.indexOf(w.findChild<QWidget*>("Image1")) < children.indexOf(close));
    QVERIFY(children.indexOf(close) < children.indexOf(w.findChild<QWidget*>("btn1")));
  }

  void menuWindow_OwnsBothUnpackersWithTheirStoredSettings() {
    Launcher l;
    const quern::TUnBh& bh = l.main.UnBh1;
    QCOMPARE(bh.FileSpec(), std::vector<std::string>{"*.*"});
    QCOMPARE(bh.CpuType(), quern::cptAuto);
    QVERIFY(bh.CreateStoredDirs());
    QVERIFY(bh.UseStoredDirs() && bh.RecurseDirs() && bh.TranslateOemChar());
    QVERIFY(bh.RestoreFileAttr() && !bh.ConfirmOverwrites());
    QCOMPARE(bh.OverwriteMode(), quern::omOverwrite);
    QVERIFY(bh.OnProgress && !bh.OnError && !bh.OnEnd && !bh.OnFileExists);
    const quern::TUnLha& lha = l.main.UnLha1;
    QCOMPARE(lha.FileSpec(), std::vector<std::string>{"*.*"});
    QVERIFY(!lha.CreateStoredDirs());
    QVERIFY(lha.OnProgress);
    l.main.UnLha1Progress(nullptr, 1, 42);
    QCOMPARE(l.progress.ProgressBar1()->value(), 42);
  }

  void menuWindow_IsCentredOnTheScreen() {
    Launcher l;
    l.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l.main));
    const QRect screen = l.main.screen()->geometry();
    QCOMPARE(l.main.geometry().center(), screen.center());
  }

  void progressWindow_HasTheDesignedLayout() {
    Launcher l;
    TfrmProgress& p = l.progress;
    QCOMPARE(p.size(), QSize(374, 48));
    QCOMPARE(p.pos(), QPoint(461, 525));
    QVERIFY(p.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(p.windowTitle().isEmpty());
    QCOMPARE(p.font().family(), QString("Tahoma"));
    QCOMPARE(p.font().pixelSize(), 13);
    QCOMPARE(p.findChild<QWidget*>("Panel1")->geometry(), QRect(0, 0, 374, 48));
    auto* label = p.findChild<QLabel*>("Label1");
    QCOMPARE(label->text(), QString("Loading Files.......... Please Wait......."));
    QCOMPARE(label->geometry(), QRect(8, 8, 213, 16));
    QProgressBar* bar = p.ProgressBar1();
    QCOMPARE(bar->geometry(), QRect(2, 29, 370, 17));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->orientation(), Qt::Horizontal);
    QVERIFY(!p.isVisible());
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));
    QCOMPARE(p.pos(), QPoint(461, 525));
  }

  void menuWindow_PixelsShowPictureButtonFaceAndGlyph() {
    Launcher l;
    l.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l.main));
    const QImage shot = l.main.grab().toImage();
    auto* image = l.main.findChild<TPictureWidget*>("Image1");
    QCOMPARE(image->PictureRect(), QRect(0, 0, 583, 209));
    QVERIFY(!image->Picture().isNull());

    // Row 209 is the button face; the picture reaches column 582 on row 208.
    for (int x = 0; x < 583; ++x)
      QCOMPARE(QColor(shot.pixel(x, 209)), ButtonFace());
    int differing = 0;
    for (int x = 0; x < 583; ++x)
      differing += QColor(shot.pixel(x, 208)) != ButtonFace();
    QVERIFY(differing > 500);

    // The glyph sits at 553, 0: where it is opaque the button shows it, elsewhere the picture.
    QFile glyphFile(":/artwork/close.bmp");
    QVERIFY(glyphFile.open(QIODevice::ReadOnly));
    const QImage glyph = QImage::fromData(glyphFile.readAll(), "BMP");
    const QRgb key = glyph.pixel(0, glyph.height() - 1);
    const QImage bare = [&] {
      QImage picture(583, 210, QImage::Format_RGB32);
      image->render(&picture);
      return picture;
    }();
    int opaque = 0;
    for (int y = 0; y < 28; ++y)
      for (int x = 0; x < 28; ++x) {
        const QRgb expected = glyph.pixel(x, y) == key ? bare.pixel(553 + x, y) : glyph.pixel(x, y);
        QCOMPARE(QColor(shot.pixel(553 + x, y)), QColor(expected));
        opaque += glyph.pixel(x, y) != key;
      }
    QVERIFY(opaque > 20);
  }

  void loadMaterial_MissingArchive_ShowsTheMessageAndNothingElse() {
    Launcher l;
    l.main.LoadMaterial("materi2.nsz");
    QCOMPARE(l.informed, QStringList{"Image File Not Found. Contact Your Vendor."});
    QVERIFY(l.opened.isEmpty());
    QVERIFY(!l.progress.isVisible());
    QVERIFY(!l.main.testAttribute(Qt::WA_SetCursor));
  }

  void loadMaterial_InvalidArchive_StillStartsTheProgram() {
    Launcher l;
    PutArchive("materi3.nsz", PatternBytes(5000, 4));
    bool shown = false;
    l.main.UnBh1.OnDeactivate = [&](quern::TComponent*) { shown = l.progress.isVisible(); };
    l.main.btn3Click();
    QVERIFY(shown);
    QVERIFY(!l.progress.isVisible());
    QVERIFY(l.informed.isEmpty());
    QCOMPARE(l.opened, QStringList{QString::fromStdString(l.main.TempDir()) + "pilihbahasa.exe"});
    QVERIFY(QString::fromStdString(l.main.TempDir()).endsWith("\\"));
  }

  void loadMaterial_UnpacksIntoTheTempDirAndTheBarFollowsByArchive() {
    Launcher l;
    const Bytes big = PatternBytes(200000, 9);
    PutArchive("materi1.nsz", BuildBhArchive({BhEntry::Stored("pilihbahasa.exe", Bytes{'#', '!'}),
                                              BhEntry::Stored("data\\big.bin", big)}));
    l.progress.SetPosition(57);
    QList<int> seen;  // the bar's value as each report arrives, then after it
    bool firstReport = true;
    l.main.UnBh1.OnProgress = [&](quern::TComponent* s, std::uint8_t byFile,
                                  std::uint8_t byArchive) {
      if (firstReport) {
        QCOMPARE(l.progress.ProgressBar1()->value(), 0);  // shown at 0
        QVERIFY(l.progress.isVisible());
        firstReport = false;
      }
      l.main.UnBh1Progress(s, byFile, byArchive);
      seen << l.progress.ProgressBar1()->value();
    };
    l.main.btn1Click();
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.last(), 100);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));

    const QString temp = QString::fromStdString(l.main.TempDir()).replace('\\', '/');
    QFile extracted(temp + "data/big.bin");
    QVERIFY(extracted.open(QIODevice::ReadOnly));
    const QByteArray got = extracted.readAll();
    QCOMPARE(Bytes(got.begin(), got.end()), big);
    QCOMPARE(l.opened.last(), QString::fromStdString(l.main.TempDir()) + "pilihbahasa.exe");
  }

  void progressHandler_FollowsByArchiveOnly() {
    Launcher l;
    l.main.UnBh1Progress(&l.main.UnBh1, 10, 77);
    QCOMPARE(l.progress.ProgressBar1()->value(), 77);
    l.main.UnBh1Progress(&l.main.UnBh1, 100, 3);
    QCOMPARE(l.progress.ProgressBar1()->value(), 3);
  }

  void formCreate_StartsIntroAndKeepsAPrivateTempDir() {
    Launcher l;
    l.main.FormCreate();
    QCOMPARE(l.opened, QStringList{"intro.exe"});
    const QString temp = QString::fromStdString(l.main.TempDir()).replace('\\', '/');
    const QFileInfo info(temp);
    QVERIFY(info.isDir());
    QVERIFY(!info.isSymLink());
    QCOMPARE(info.ownerId(), static_cast<uint>(getuid()));
    QCOMPARE(info.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                   QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
    QVERIFY(temp.startsWith(QString::fromUtf8(tmpdir_)));
  }

  void duringAnExtraction_ASecondRequestIsIgnoredAndCloseCancels() {
    Launcher l;
    PutArchive("materi1.nsz", BuildBhArchive({BhEntry::Stored("a.bin", PatternBytes(300000, 1)),
                                              BhEntry::Stored("b.bin", PatternBytes(300000, 2))}));
    int reports = 0;
    l.main.UnBh1.OnProgress = [&](quern::TComponent*, std::uint8_t, std::uint8_t) {
      if (++reports == 1) {
        l.main.btn2Click();  // ignored: no message although materi2.nsz is missing
        l.main.RxSpeedButton1Click();
      }
    };
    l.main.btn1Click();
    QVERIFY(l.informed.isEmpty());
    QCOMPARE(reports, 1);         // cancelled after the first block
    QVERIFY(l.opened.isEmpty());  // the program ends instead of starting the material
    QVERIFY(!l.main.Extracting());
  }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
