// What the window tests share: a window with a fake lsblk and folder chooser,
// a data folder with a small catalogue, disk images written sector by sector,
// and a watcher that answers every modal box and notice while recording what
// it saw.
#pragma once

#include <QtTest>
#include <QtWidgets>
#include <algorithm>
#include <functional>
#include <memory>

#include "tools/sample_files/sample_files.h"
#include "ui/MyTableController.h"

namespace tamberlin::ui::testing {

// A JPEG `width` x `height`, left half red and right half blue.
inline QByteArray Two_Colour_Jpeg(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::blue);
  QPainter(&image).fillRect(0, 0, width / 2, height, Qt::red);
  return samples::Encode(image, "jpeg", 95);
}

// lsblk -J output: the fields a row needs, and what util-linux really prints
// around them (a system disk, null labels, nested children).
inline QByteArray Device(const char* name, const char* type, const char* tran, bool rm, const char* label,
                         const char* fstype, quint64 size, const char* mount, const QByteArray& children = {}) {
  auto text = [](const char* s) { return s ? QByteArray("\"") + s + "\"" : QByteArray("null"); };
  QByteArray out = QByteArray("{\"name\":\"") + name + "\",\"path\":\"/dev/" + name + "\",\"type\":\"" + type +
                   "\",\"tran\":" + text(tran) + ",\"rm\":" + (rm ? "true" : "false") + ",\"hotplug\":" +
                   (rm ? "true" : "false") + ",\"label\":" + text(label) + ",\"fstype\":" + text(fstype) +
                   ",\"size\":" + QByteArray::number(size) + ",\"mountpoints\":[" + text(mount) + "]";
  if (!children.isEmpty()) out += ",\"children\":[" + children + "]";
  return out + "}";
}
inline QByteArray Lsblk(const QByteArray& devices) { return "{\"blockdevices\":[" + devices + "]}"; }

// lsblk output with one USB stick partition of `bytes` bytes, "sdb1".
inline QByteArray One_Stick(quint64 bytes) {
  return Lsblk(Device("sdb", "disk", "usb", true, nullptr, nullptr, bytes + 1048576, nullptr,
                      Device("sdb1", "part", nullptr, true, "STICK", "vfat", bytes, "/m")));
}

class FakeRunner final : public media::CommandRunner {
 public:
  QList<std::optional<QByteArray>> lsblk;  // answers in turn; the last one repeats
  std::optional<QByteArray> Run(const QString& program, const QStringList&) override {
    if (program != QLatin1String("lsblk") || lsblk.isEmpty()) return std::nullopt;
    return lsblk.size() == 1 ? lsblk.front() : lsblk.takeFirst();
  }
};

class FakeChooser final : public FolderChooser {
 public:
  std::optional<QString> folder;  // what the folder dialog answers
  std::optional<QString> image;   // what the disk image dialog answers
  int folder_calls = 0;
  std::optional<QString> Choose_Folder(QWidget*, const QString&) override {
    ++folder_calls;
    return folder;
  }
  std::optional<QString> Choose_Image(QWidget*) override { return image; }
};

// One catalogue record as the catalogue files write it.
inline QByteArray Catalogue_Group(const char* ext, const char* header, const char* description,
                                  const char* max_size = "10000000") {
  return QByteArray("Extension : ") + ext + "\nMax size : " + max_size + "\nHeader : " + header +
         "\nPosition : 1\nFooter : -\nDescription : " + description + "\n\n";
}

inline QByteArray Read_All(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
inline void Write_File(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size(), qPrintable(path));
}

// The catalogue the scan tests use: photo JPEG (general) and PNG (thorough);
// raw DOC and PDF (general), DOC and ZIP (thorough); video AVI and MOV.
inline void Write_Test_Catalogue(const QString& dir) {
  Write_File(dir + "/USBExt2.dll", Catalogue_Group(".jpg", "FFD8FFE0", "JPEG image", "65536"));
  Write_File(dir + "/USBExt2Adv.dll", Catalogue_Group(".png", "89504E470D0A1A0A", "PNG image", "65536"));
  Write_File(dir + "/USBRaw.dll", Catalogue_Group(".doc", "D0CF11E0A1B11AE1", "Word document") +
                                      Catalogue_Group(".pdf", "255044462D", "PDF document"));
  Write_File(dir + "/USBRawAdv.dll", Catalogue_Group(".doc", "D0CF11E0A1B11AE1", "Word document") +
                                         Catalogue_Group(".zip", "504B0304", "ZIP archive"));
  Write_File(dir + "/USBVideo.dll", Catalogue_Group(".avi", "52494646", "AVI video"));
  Write_File(dir + "/USBVideoAdv.dll", Catalogue_Group(".mov", "0000001466747970", "QuickTime movie"));
}

// Headers to plant, each at the start of its sector.
using Sector_Headers = std::vector<std::pair<quint64, QByteArray>>;

// A disk image of `sectors` sectors, all zero except the given headers.
// Large images stay sparse.
inline void Write_Image(const QString& path, quint64 sectors, const Sector_Headers& headers) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.resize(static_cast<qint64>(sectors * 512)));
  for (const auto& [sector, bytes] : headers)
    QVERIFY(f.seek(static_cast<qint64>(sector * 512)) && f.write(bytes) == bytes.size());
}

inline QByteArray Jpeg_Header() { return QByteArray::fromHex("FFD8FFE000104A464946000101"); }
// A sound OLE2 header whose FAT lies past any limit: a valid start with no
// end to find, so it is written as found.
inline QByteArray Doc_Header() {
  return QByteArray::fromHex("D0CF11E0A1B11AE1" "00000000000000000000000000000000" "3E000300FEFF09000600"
                             "000000000000" "00000000" "FFFFFF7F" "00000000" "00000000" "00100000");
}

// Answers every modal window that comes up: message boxes with the button
// titled `answer` (the first button when empty), notices with their button.
// Records what it saw, in order.
class Modal_Watcher {
 public:
  struct Seen {
    QString kind;  // "box" or the notice's objectName
    QString text;
    QString informative;
  };

  Modal_Watcher() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  std::vector<Seen> seen;
  QString answer;
  std::optional<bool> tick;  // what a box's check box is set to before the answer
  std::function<void(QWidget*)> on_notice;  // runs while a notice is up, before it is answered

  int Count(const QString& kind) const {
    return static_cast<int>(std::count_if(seen.begin(), seen.end(), [&](const Seen& s) { return s.kind == kind; }));
  }
  QStringList Box_Texts() const {
    QStringList out;
    for (const Seen& s : seen)
      if (s.kind == QLatin1String("box")) out << s.text;
    return out;
  }

 private:
  // A box or notice closes as soon as its button is clicked, so each shows up here once.
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      seen.push_back({QStringLiteral("box"), box->text(), box->informativeText()});
      if (box->checkBox() && tick) box->checkBox()->setChecked(*tick);
      const auto buttons = box->buttons();
      const auto it = std::find_if(buttons.begin(), buttons.end(), [&](auto* b) { return b->text() == answer; });
      (it == buttons.end() ? buttons.front() : *it)->click();
    } else if (auto* notice = qobject_cast<NoticeWindow*>(modal)) {
      seen.push_back({notice->objectName(), notice->Message()->text(), {}});
      if (on_notice) on_notice(notice);
      if (notice->Button()) notice->Button()->click();
    }
  }

  QTimer timer_;
};

struct Window_Fixture {
  QTemporaryDir data;
  QTemporaryDir previews;
  QTemporaryDir media;  // disk images
  std::shared_ptr<FakeRunner> runner = std::make_shared<FakeRunner>();
  std::shared_ptr<FakeChooser> chooser = std::make_shared<FakeChooser>();
  int quits = 0;
  std::unique_ptr<MyTableController> window;

  // A window over one 4 GB stick, with the test catalogue or the data
  // folder `data_dir`.
  explicit Window_Fixture(quint64 stick_bytes = 4009754624ull, const QString& data_dir = {}) {
    Write_Test_Catalogue(data.path());
    runner->lsblk = {One_Stick(stick_bytes)};
    ControllerSetup setup;
    setup.data_dir = data_dir.isEmpty() ? data.path() : data_dir;
    setup.preview_dir = previews.path();
    setup.runner = runner;
    setup.chooser = chooser;
    setup.quit = [this] { ++quits; };
    window = std::make_unique<MyTableController>(setup);
  }

  template <typename T>
  T* Find(const QString& name) {
    return window->findChild<T*>(name);
  }
  bool Shown(const QString& name) { return Find<QWidget>(name)->isVisibleTo(window.get()); }
  QString Text(const QString& name) {
    if (auto* edit = window->findChild<QLineEdit*>(name)) return edit->text();
    return Find<QLabel>(name)->text();
  }

  void Choose_Mode(int mode) {
    const char* radios[] = {"_rec_mode_Photo", "_rec_mode_Video", "_rec_mode_RawFile"};
    Find<QRadioButton>(QLatin1String(radios[mode]))->click();
  }
  // Selects the media row of `identifier` (the stick "sdb1" or an image path).
  bool Select(const QString& identifier) {
    const auto& rows = window->nsMutaryOfDataObject();
    const auto row =
        std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.nsStrDiskIdentifier == identifier; });
    if (row != rows.end()) Find<QTableView>("idTableView")->selectRow(static_cast<int>(row - rows.begin()));
    return row != rows.end();
  }
  // Media screen to range screen in `mode` over `identifier`.
  void To_Range_Screen(int mode, const QString& identifier = QStringLiteral("sdb1")) {
    Choose_Mode(mode);
    QVERIFY(Select(identifier));
    window->Next_btn();
    QCOMPARE(window->screen_counter, 1);
  }
  QString Image(const QString& name) const { return media.filePath(name); }
};

}  // namespace tamberlin::ui::testing
