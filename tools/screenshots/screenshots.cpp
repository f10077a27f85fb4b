// tamberlin-screenshots [OUTPUT_FOLDER]: opens the main window over the demo
// disk image and walks every screen of photo, video and raw-file mode,
// writing each one as a PNG: the media screen, the range screen with Entire
// Disk and with a sector range, the file types, the results after a scan
// (raw file mode with an item previewed), the end-of-scan notice and the
// help window. For the README and for looking over the layout; the shots
// the README shows are also written, smaller, to OUTPUT_FOLDER/readme.
//
// Run it with QT_QPA_PLATFORM=offscreen or under xvfb-run.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QIcon>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <map>

#include "ui/MyTableController.h"
#include "ui/notices.h"

using tamberlin::ui::ControllerSetup;
using tamberlin::ui::FolderChooser;
using tamberlin::ui::MyTableController;
using tamberlin::ui::NoticeWindow;

namespace {

// One mounted 8 GB USB stick, so the media list is not empty.
class Canned_Runner final : public tamberlin::media::CommandRunner {
 public:
  std::optional<QByteArray> Run(const QString& program, const QStringList&) override {
    if (program != QLatin1String("lsblk")) return std::nullopt;
    return QByteArray(
        R"({"blockdevices":[{"name":"sdb","path":"/dev/sdb","size":8002732032,"tran":"usb","type":"disk",)"
        R"("rm":true,"hotplug":true,"mountpoints":[null],"children":[{"name":"sdb1","path":"/dev/sdb1",)"
        R"("label":"HOLIDAYS","fstype":"vfat","size":8001683456,"type":"part","rm":true,"hotplug":true,)"
        R"("mountpoints":["/media/HOLIDAYS"]}]}]})");
  }
};

class Demo_Chooser final : public FolderChooser {
 public:
  explicit Demo_Chooser(QString image) : image_(std::move(image)) {}
  std::optional<QString> Choose_Folder(QWidget*, const QString&) override { return QDir::homePath(); }
  std::optional<QString> Choose_Image(QWidget*) override { return image_; }

 private:
  QString image_;
};

class Shooter {
 public:
  explicit Shooter(QString folder) : folder_(std::move(folder)) { QDir().mkpath(folder_); }

  bool Save(QWidget* widget, const QString& name) {
    QApplication::processEvents();
    const QPixmap shot = widget->grab();
    bool ok = Write(shot.toImage(), folder_ + QLatin1Char('/') + name + QStringLiteral(".png"));
    // The README's copies: smaller, under 150 KB each.
    if (const auto it = kReadme.find(name); it != kReadme.end()) {
      QDir().mkpath(folder_ + QStringLiteral("/readme"));
      const QString path = folder_ + QStringLiteral("/readme/") + it->second + QStringLiteral(".png");
      for (const int quarters : {3, 2}) {
        const QImage small = shot.toImage().scaledToWidth(shot.width() * quarters / 4, Qt::SmoothTransformation);
        ok &= Write(small, path);
        if (QFileInfo(path).size() < 150 * 1024) break;
      }
    }
    return ok;
  }
  bool Failed() const { return failed_; }

 private:
  bool Write(const QImage& image, const QString& path) {
    const bool ok = image.save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    failed_ |= !ok;
    return ok;
  }
  // Shots that docs/screenshots holds, by the names used there.
  inline static const std::map<QString, QString> kReadme = {
      {QStringLiteral("1-photo-1-media"), QStringLiteral("media")},
      {QStringLiteral("1-photo-3-range-sector-range"), QStringLiteral("range")},
      {QStringLiteral("1-photo-5-scanning"), QStringLiteral("scanning")},
      {QStringLiteral("1-photo-7-results"), QStringLiteral("photo-results")},
      {QStringLiteral("3-raw-4-file-types"), QStringLiteral("file-types")},
      {QStringLiteral("3-raw-8-results-preview"), QStringLiteral("raw-results")}};

  QString folder_;
  bool failed_ = false;
};

// Grabs every notice or message box that comes up (window and notice),
// then answers it.
class Notice_Grabber {
 public:
  Notice_Grabber(Shooter& shooter, QWidget* window) : shooter_(shooter), window_(window) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  QString next_name;  // what the next notice is saved as; empty: not saved

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == window_) return;
    if (!next_name.isEmpty()) {
      shooter_.Save(modal, next_name);
      shooter_.Save(window_, next_name + QStringLiteral("-window"));
      next_name.clear();
    }
    if (auto* notice = qobject_cast<NoticeWindow*>(modal); notice && notice->Button())
      notice->Button()->click();
    else if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->done(1);
  }

  Shooter& shooter_;
  QWidget* window_;
  QTimer timer_;
};

template <typename T>
T* Child(QWidget* window, const QString& name) {
  T* w = window->findChild<T*>(name);
  if (w == nullptr) std::fprintf(stderr, "no widget %s\n", qPrintable(name));
  return w;
}

void Click(QWidget* window, const char* name) {
  if (auto* b = Child<QAbstractButton>(window, QLatin1String(name))) b->click();
  QApplication::processEvents();
}

// Lets queued work (browser reloads, scrolling, thumbnails) happen.
void Settle() {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 300) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Set_Range(QWidget* window, const QString& set, const char* from, const char* to) {
  Child<QRadioButton>(window, QStringLiteral("_sector_range_rd") + set)->click();
  for (auto [field, value] : {std::pair{"_Start_slider_val", from}, std::pair{"_End_slider_val", to}}) {
    QLineEdit* edit = Child<QLineEdit>(window, QLatin1String(field) + set);
    edit->setText(QLatin1String(value));
    if (auto* controller = qobject_cast<MyTableController*>(window)) controller->controlTextDidChange(edit);
  }
}

// A photo scan while it runs, with its speed and time left: over a large,
// sparse image, so it lasts long enough for the display to settle; stopped
// after the shot.
bool Shoot_Scanning(Shooter& shooter, const QString& previews, const QString& image) {
  QFile big(image);
  if (!big.open(QIODevice::WriteOnly) || !big.resize(qint64{64} << 30)) {
    std::fprintf(stderr, "could not write the sparse image %s\n", qPrintable(image));
    return false;
  }
  big.close();
  ControllerSetup setup;
  setup.data_dir = QStringLiteral(TAMBERLIN_DATA);
  setup.preview_dir = previews;
  setup.runner = std::make_shared<Canned_Runner>();
  setup.quit = [] {};
  MyTableController window(setup);
  window.resize(1180, 760);
  window.show();
  Notice_Grabber notices(shooter, &window);
  if (!window.Add_Image(image)) return false;
  const auto& media = window.nsMutaryOfDataObject();
  for (std::size_t row = 0; row < media.size(); ++row)
    if (media[row].nsStrDiskIdentifier == image)
      Child<QTableView>(&window, QStringLiteral("idTableView"))->selectRow(static_cast<int>(row));
  Click(&window, "_next_btn");
  int ticks = 0;
  QObject::connect(window.mSetLabelTimer, &QTimer::timeout, &window, [&] {
    if (++ticks == 6) {
      shooter.Save(&window, QStringLiteral("1-photo-5-scanning"));
      window.stop_usb_disk();
    }
  });
  Click(&window, "_next_btn");
  return window.Wait_For_Scan_End(120000);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Tamberlin"));
  QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << QStringLiteral("/usr/share/icons"));
  if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
    QIcon::setThemeName(QStringLiteral("Adwaita"));

  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(TAMBERLIN_SCREENSHOTS);
  const QString data = QStringLiteral(TAMBERLIN_DATA);
  const QString demo = data + QStringLiteral("/demo.img");
  if (!QFileInfo::exists(demo)) {
    std::fprintf(stderr, "the demo image %s is missing: build the tamberlin_demo_image target\n", qPrintable(demo));
    return 1;
  }
  Shooter shooter(out);
  QTemporaryDir previews;
  // A copy under a short path, as a user's own card image would be.
  QTemporaryDir cards(QDir::tempPath() + QStringLiteral("/cards-XXXXXX"));
  const QString card = cards.filePath(QStringLiteral("holiday-card.img"));
  if (!QFile::copy(demo, card)) {
    std::fprintf(stderr, "could not copy the demo image to %s\n", qPrintable(card));
    return 1;
  }

  const char* const kModes[] = {"photo", "video", "raw"};
  const char* const kRadios[] = {"_rec_mode_Photo", "_rec_mode_Video", "_rec_mode_RawFile"};
  for (int mode = 0; mode < 3; ++mode) {
    ControllerSetup setup;
    setup.data_dir = data;
    setup.preview_dir = previews.path();
    setup.runner = std::make_shared<Canned_Runner>();
    setup.chooser = std::make_shared<Demo_Chooser>(card);
    setup.quit = [] {};
    MyTableController window(setup);
    window.resize(1180, 680);  // the program's own first size
    window.show();
    Notice_Grabber notices(shooter, &window);
    const QString prefix = QStringLiteral("%1-%2-").arg(mode + 1).arg(QLatin1String(kModes[mode]));
    const QString set = mode == 0 ? QString() : QStringLiteral("_Sig");

    Click(&window, kRadios[mode]);
    if (mode == 0) shooter.Save(&window, QStringLiteral("0-media-empty"));
    Click(&window, "_add_image_btn");
    shooter.Save(&window, prefix + QStringLiteral("1-media"));
    if (mode == 0) {
      notices.next_name = QStringLiteral("0-help");
      Click(&window, "_help_btn");
    }

    Click(&window, "_next_btn");
    shooter.Save(&window, prefix + QStringLiteral("2-range-entire-disk"));
    Set_Range(&window, set, "600", "8000");
    shooter.Save(&window, prefix + QStringLiteral("3-range-sector-range"));
    Click(&window, mode == 0 ? "_entire_disk_rd" : "_entire_disk_rd_Sig");

    if (mode != 0) {
      Click(&window, "_next_btn");
      shooter.Save(&window, prefix + QStringLiteral("4-file-types"));
      // A few types unticked, to show the boxes both ways.
      for (int row : {1, 3, 4}) window.setObjectValue(0, QStringLiteral("State"), row);
      shooter.Save(&window, prefix + QStringLiteral("4-file-types-some-unticked"));
      // Every type again for the scan.
      Click(&window, "_select_unselect_Chk");
      if (!Child<QCheckBox>(&window, QStringLiteral("_select_unselect_Chk"))->isChecked())
        Click(&window, "_select_unselect_Chk");
    }

    notices.next_name = prefix + QStringLiteral("6-end-of-scan");
    Click(&window, "_next_btn");
    if (!window.Wait_For_Scan_End(120000)) {
      std::fprintf(stderr, "the %s scan did not end\n", kModes[mode]);
      return 1;
    }
    if (mode == 0) window.Wait_For_Thumbnails();
    window.Reload_Results();
    Settle();
    // The browsers follow the newest items; show the first ones.
    for (const char* name : {"imageBrowser", "imageBrowser_2"})
      Child<QListView>(&window, QLatin1String(name))->scrollToTop();
    shooter.Save(&window, prefix + QStringLiteral("7-results"));

    if (mode == 2) {
      // Preview the PDF, then the first picture-less item.
      auto* browser = Child<QListView>(&window, QStringLiteral("imageBrowser_2"));
      // Browser rows, not list rows: the browser shows each file once.
      QAbstractItemModel* model = browser->model();
      for (int row = 0; row < model->rowCount(); ++row) {
        if (!model->index(row, 0).data().toString().endsWith(QStringLiteral(".PDF"))) continue;
        browser->selectionModel()->select(model->index(row, 0), QItemSelectionModel::ClearAndSelect);
        break;
      }
      Settle();
      shooter.Save(&window, prefix + QStringLiteral("8-results-preview"));
    }
    if (mode == 0) {
      window.zoomSliderDidChange(100);
      shooter.Save(&window, prefix + QStringLiteral("8-results-zoomed"));
    }
  }
  if (!Shoot_Scanning(shooter, previews.path(), cards.filePath(QStringLiteral("big-card.img")))) return 1;
  return shooter.Failed() ? 1 : 0;
}
