#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <functional>

#include "MyTableController.h"
#include "help_texts.h"

using namespace tamberlin;
using namespace tamberlin::ui;

namespace {

const char* const kOneStick = R"({"blockdevices":[
  {"name":"sdb","path":"/dev/sdb","size":8019509248,"tran":"usb","type":"disk","rm":true,
   "hotplug":true,"mountpoints":[null],"children":[
     {"name":"sdb1","path":"/dev/sdb1","label":"PHOTOS","fstype":"exfat","size":4009754624,
      "type":"part","rm":true,"hotplug":true,"mountpoints":["/media/PHOTOS"]}]}]})";

class FakeRunner final : public media::CommandRunner {
 public:
  std::optional<QByteArray> lsblk;
  std::optional<QByteArray> Run(const QString& program, const QStringList&) override {
    return program == QLatin1String("lsblk") ? lsblk : std::nullopt;
  }
};

class FakeChooser final : public FolderChooser {
 public:
  std::optional<QString> folder;
  std::optional<QString> image;
  int folder_calls = 0;
  std::optional<QString> Choose_Folder(QWidget*) override {
    ++folder_calls;
    return folder;
  }
  std::optional<QString> Choose_Image(QWidget*) override { return image; }
};

// Runs `act` on the next modal window, from the event loop that window's
// exec() runs. Set up before the call that blocks.
void On_Next_Modal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  auto waited = std::make_shared<int>(0);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act, waited] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal && ++*waited < 500) return;
    timer->stop();
    timer->deleteLater();
    if (modal) act(modal);
  });
  timer->start();
}

// Answers the next message box with the button titled `button`; its text
// lands in *seen.
void Answer_Box(const QString& button, QString* seen = nullptr) {
  On_Next_Modal([button, seen](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return;
    if (seen) *seen = box->text();
    for (QAbstractButton* b : box->findChildren<QAbstractButton*>()) {
      if (b->text() == button) {
        b->click();
        return;
      }
    }
    box->reject();
  });
}

struct Fixture {
  QTemporaryDir data;
  QTemporaryDir previews;
  std::shared_ptr<FakeRunner> runner = std::make_shared<FakeRunner>();
  std::shared_ptr<FakeChooser> chooser = std::make_shared<FakeChooser>();
  int quits = 0;
  std::unique_ptr<MyTableController> window;

  explicit Fixture(const QString& data_dir = {}) {
    runner->lsblk = QByteArray(kOneStick);
    ControllerSetup setup;
    setup.data_dir = data_dir.isEmpty() ? data.path() : data_dir;
    setup.preview_dir = previews.path();
    setup.runner = runner;
    setup.chooser = chooser;
    setup.quit = [this] { ++quits; };
    window = std::make_unique<MyTableController>(setup);
  }
  template <typename T>
  T* Find(const char* name) {
    return window->findChild<T*>(QLatin1String(name));
  }
};

void Touch(const QString& path, qint64 bytes = 0) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QVERIFY(f.resize(bytes));
}

}  // namespace

// Stands in for the desktop's PDF viewer.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QUrl opened;
 public slots:
  void Open(const QUrl& url) { opened = url; }
};

class ControllerTest : public QObject {
  Q_OBJECT

 private slots:
  void startup_state() {
    Fixture f(qEnvironmentVariable("TAMBERLIN_DATA_DIR"));
    MyTableController& w = *f.window;
    QCOMPARE(w.Recovery_MODE.load(), 0);
    QVERIFY(f.Find<QRadioButton>("_rec_mode_Photo")->isChecked());
    QVERIFY(f.Find<QCheckBox>("_Thro_Mode_Chk")->isChecked());
    QCOMPARE(f.Find<QLabel>("_help_info")->text(), QString::fromUtf8(kMediaHelp));
    QVERIFY(f.Find<QLabel>("_help_info")->text().endsWith(QStringLiteral("... ")));
    QCOMPARE(f.Find<QLabel>("_sector_label")->text(), QStringLiteral("Sectors 0 of 0"));
    QCOMPARE(w.screen_counter, 0);
    QCOMPARE(w.stop_now.load(), 0);
    QCOMPARE(w.Prev_Index, 0x7FFFFFFFu);
    QVERIFY(w.Preview_File.isEmpty());
    QVERIFY(!f.Find<QPushButton>("_back_btn")->isEnabled());
    QVERIFY(f.Find<QWidget>("_screen_media")->isVisibleTo(&w));
    for (const char* hidden : {"_screen_range", "_screen_photo_results", "_screen_filetypes",
                               "_screen_raw_results", "_progress_strip", "_Search_Type"})
      QVERIFY2(!f.Find<QWidget>(hidden)->isVisibleTo(&w), hidden);
    QCOMPARE(w.nsMutaryOfDataObject().size(), std::size_t{1});
    QVERIFY(!w.catalogue.Ext_Array.empty());  // the shipped catalogue was loaded
    QVERIFY(!w.Null_Image_Data.isEmpty());    // and NoPreview.png
    QCOMPARE(w.palette().color(QPalette::Window), QColor(241, 244, 250));
  }

  void startup_without_data_files() {
    Fixture f;  // empty data folder
    QVERIFY(f.window->Null_Image_Data.isEmpty());
    QVERIFY(f.window->catalogue.Ext_Array.empty());
  }

  void captions_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    for (const QString& s : {QString(), QStringLiteral("_Sig")}) {
      QTest::newRow(qPrintable("_disk" + s)) << "_disk" + s << "Disk\t\t\t\t:";
      QTest::newRow(qPrintable("_vol_name" + s)) << "_vol_name" + s << "Volume Name\t:";
      QTest::newRow(qPrintable("_file_system" + s)) << "_file_system" + s << "File System\t\t:";
      QTest::newRow(qPrintable("_size" + s)) << "_size" + s << "Capacity (size)\t:";
      QTest::newRow(qPrintable("_start_sector_entire" + s))
          << "_start_sector_entire" + s << "Start Sector\t\t:";
      QTest::newRow(qPrintable("_end_sector_entire" + s))
          << "_end_sector_entire" + s << "End Sector\t\t:";
    }
  }
  void captions() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    Fixture f;
    auto* label = f.window->findChild<QLabel*>(name);
    QVERIFY(label);
    QCOMPARE(label->text(), text);
  }

  void mode_radios_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("mode");
    QTest::newRow("video") << "_rec_mode_Video" << 1;
    QTest::newRow("raw file") << "_rec_mode_RawFile" << 2;
    QTest::newRow("photo again") << "_rec_mode_Photo" << 0;
  }
  void mode_radios() {
    QFETCH(QString, radio);
    QFETCH(int, mode);
    Fixture f;
    f.Find<QRadioButton>("_rec_mode_RawFile")->click();  // start away from photo
    f.window->findChild<QRadioButton*>(radio)->click();
    QCOMPARE(f.window->Recovery_MODE.load(), mode);
    const char* names[] = {"_rec_mode_Photo", "_rec_mode_Video", "_rec_mode_RawFile"};
    for (int m = 0; m < 3; ++m) QCOMPARE(f.Find<QRadioButton>(names[m])->isChecked(), m == mode);
  }

  void refresh_keeps_images_and_survives_lsblk_failure() {
    Fixture f;
    const QString image = f.data.filePath("card.img");
    Touch(image, 4096);
    QVERIFY(f.window->Add_Image(image));
    QCOMPARE(f.window->nsMutaryOfDataObject().size(), std::size_t{2});
    f.window->show();
    f.runner->lsblk = QByteArray("garbage");
    f.window->Reload_Drive_list_Function();
    QCOMPARE(f.window->nsMutaryOfDataObject().size(), std::size_t{1});
    const media::MyDataObject& row = f.window->nsMutaryOfDataObject()[0];
    QCOMPARE(row.nsStrDiskIdentifier, image);
    QCOMPARE(row.nsStrVolName, QStringLiteral("card.img"));
    QCOMPARE(row.nsStrFileSystem, QStringLiteral("Disk Image"));
    QCOMPARE(row.nsStrParentDisk, QStringLiteral("-"));
    QCOMPARE(row.nsStrSectors, QStringLiteral("8"));
    QVERIFY(!f.window->LoadDisk_Window->isVisible());  // the loading notice closed
    f.runner->lsblk = std::nullopt;                    // lsblk missing
    f.window->rebresh_drives();
    QCOMPARE(f.window->nsMutaryOfDataObject().size(), std::size_t{1});
    f.window->hide();
  }

  void image_added_once_and_bad_image_reported() {
    Fixture f;
    const QString image = f.data.filePath("stick.dd");
    Touch(image, 1536);
    f.chooser->image = image;
    f.window->Add_Image_Pressed();
    QVERIFY(f.window->Add_Image(image));  // same path again: one row
    QCOMPARE(f.window->nsMutaryOfDataObject().size(), std::size_t{2});
    QCOMPARE(f.window->Selected_Medium()->nsStrDiskIdentifier, image);

    QString seen;
    Answer_Box(QStringLiteral("OK"), &seen);
    QVERIFY(!f.window->Add_Image(f.data.filePath("missing.img")));
    QCOMPARE(seen, QStringLiteral("\nThe disk image cannot be added."));
    QCOMPARE(f.window->nsMutaryOfDataObject().size(), std::size_t{2});
  }

  void next_needs_a_medium() {
    Fixture f;
    QString seen;
    Answer_Box(QStringLiteral("OK"), &seen);
    f.window->Next_btn();
    QCOMPARE(seen, QString::fromUtf8(kNoMediumSelected));
    QCOMPARE(f.window->screen_counter, 0);

    f.Find<QTableView>("idTableView")->selectRow(0);
    f.Find<QRadioButton>("_rec_mode_RawFile")->click();
    f.window->Next_btn();
    QCOMPARE(f.window->screen_counter, 1);
    QCOMPARE(f.Find<QLineEdit>("_disk_identifier")->text(), QStringLiteral("sdb1"));
    QCOMPARE(f.Find<QLineEdit>("_sectors_val")->text(), QStringLiteral("7831552"));
    QCOMPARE(f.Find<QLabel>("_size_val_Sig")->text(), QStringLiteral("3.73  GB "));
    QCOMPARE(f.Find<QLineEdit>("_End_slider_val_Sig")->text(), QStringLiteral("7831552"));
    QVERIFY(f.Find<QWidget>("_range_set_Sig")->isVisibleTo(f.window.get()));
    QVERIFY(!f.Find<QWidget>("_range_set_Photo")->isVisibleTo(f.window.get()));

    f.window->Back_btn();
    QCOMPARE(f.window->screen_counter, 0);
    QCOMPARE(f.window->Recovery_MODE.load(), 0);
    QCOMPARE(f.Find<QLabel>("_size_val_Sig")->text(), QStringLiteral("<None>"));
    QVERIFY(!f.Find<QWidget>("_screen_range")->isVisibleTo(f.window.get()));
  }

  void exit_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("ends");
    QTest::newRow("yes") << "Yes" << true;
    QTest::newRow("no") << "No" << false;
  }
  void exit() {
    QFETCH(QString, answer);
    QFETCH(bool, ends);
    Fixture f;
    QTemporaryDir elsewhere;
    const QDir previews(f.previews.path());
    const QStringList previews_made{"dprv.jpg", "dprv", "dprv.MOV"};
    const QStringList others{"keep.txt", "dprvx.jpg", "my.dprv", "dprv.tar.gz"};
    for (const QString& n : previews_made + others) Touch(previews.filePath(n), 10);
    f.window->Preview_File = elsewhere.filePath("dprv.pdf");
    Touch(f.window->Preview_File, 10);

    QString seen;
    Answer_Box(answer, &seen);
    f.window->Exit_App();
    QCOMPARE(seen, QStringLiteral("\nDo you really want to exit from 'Tamberlin'?"));
    QCOMPARE(f.quits, ends ? 1 : 0);
    QCOMPARE(QFile::exists(f.window->Preview_File), !ends);
    for (const QString& n : previews_made) QCOMPARE(previews.exists(n), !ends);
    for (const QString& n : others) QVERIFY2(previews.exists(n), qPrintable(n));
  }

  void closing_the_window_asks() {
    Fixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QString seen;
    Answer_Box(QStringLiteral("No"), &seen);
    f.window->close();
    QCOMPARE(seen, QString::fromUtf8(kExitQuestion));
    QVERIFY(f.window->isVisible());
    QCOMPARE(f.quits, 0);
    f.window->hide();
  }

  void help_file_data() {
    QTest::addColumn<bool>("present");
    QTest::newRow("present") << true;
    QTest::newRow("missing") << false;
  }
  void help_file() {
    QFETCH(bool, present);
    Fixture f;
    if (present) Touch(f.data.filePath("Help.pdf"), 100);
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    QString seen;
    if (!present) Answer_Box(QStringLiteral("OK"), &seen);
    f.window->HelpWindow->HelpFilePressed();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    if (present) {
      QCOMPARE(catcher.opened, QUrl::fromLocalFile(f.data.filePath("Help.pdf")));
      QVERIFY(seen.isEmpty());
    } else {
      QVERIFY(catcher.opened.isEmpty());
      QCOMPARE(seen, QStringLiteral("\nHelp file does not exist!"));
    }
  }

  void help_window_runs_modally() {
    Fixture f;
    bool shown = false;
    On_Next_Modal([&](QWidget* w) {
      shown = w == f.window->HelpWindow;
      f.window->HelpWindow->Button()->click();
    });
    f.window->Help_btn();
    QVERIFY(shown);
    QVERIFY(!f.window->HelpWindow->isVisible());
  }

  void built_help_is_a_pdf() {
    QFile pdf(qEnvironmentVariable("TAMBERLIN_DATA_DIR") + QStringLiteral("/Help.pdf"));
    QVERIFY2(pdf.open(QIODevice::ReadOnly), qPrintable(pdf.fileName()));
    QVERIFY(pdf.read(5) == "%PDF-");
    QVERIFY(pdf.size() > 10000);
  }

  void folder_chooser_data() {
    QTest::addColumn<bool>("sig");
    QTest::addColumn<bool>("continued");  // the notice was left with Continue
    QTest::addColumn<bool>("chosen");
    QTest::newRow("photo set") << false << true << true;
    QTest::newRow("_Sig set") << true << true << true;
    QTest::newRow("chooser cancelled") << false << true << false;
    QTest::newRow("notice closed") << true << false << true;
  }
  void folder_chooser() {
    QFETCH(bool, sig);
    QFETCH(bool, continued);
    QFETCH(bool, chosen);
    Fixture f;
    f.Find<QLineEdit>("_path")->setText(QStringLiteral("/old"));
    f.Find<QLineEdit>("_path_Sig")->setText(QStringLiteral("/old/sig"));
    if (chosen) f.chooser->folder = QStringLiteral("/home/u/Recovered");
    On_Next_Modal([&](QWidget* w) {
      auto* notice = qobject_cast<Browse_Info*>(w);
      if (!notice) return;
      if (continued) notice->Button()->click();
      else notice->reject();
    });
    if (sig) f.window->Browse_Path_Sig();
    else f.window->Browse_Path();
    QCOMPARE(f.chooser->folder_calls, continued ? 1 : 0);
    const bool filled = continued && chosen;
    QCOMPARE(f.Find<QLineEdit>("_path")->text(),
             filled ? QStringLiteral("/home/u/Recovered") : QStringLiteral("/old"));
    QCOMPARE(f.Find<QLineEdit>("_path_Sig")->text(),
             filled ? QStringLiteral("/home/u/Recovered") : QStringLiteral("/old/sig"));
  }
};

QTEST_MAIN(ControllerTest)
#include "controller_test.moc"
