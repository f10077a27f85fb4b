// Recover through the window: the button follows the scan, the selected
// items (or all) land in the destination folder with a report, the folder
// chooser opens when no folder is set, a bad folder is refused, and Cancel
// leaves no half-written file.
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QListView>
#include <QProgressDialog>
#include <thread>

#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

constexpr int kTimeoutMs = 120000;

// A PDF that ends well inside its sectors, and two Word headers after it.
QByteArray Small_Pdf() { return QByteArray("%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n"); }

// Reads through another source, slowly, so a test can cancel mid-copy.
class Slow_Source final : public SectorSource {
 public:
  explicit Slow_Source(std::unique_ptr<SectorSource> inner) : inner_(std::move(inner)) {}
  const std::uint8_t* Read_Sector(std::uint64_t s) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return inner_->Read_Sector(s);
  }

 private:
  std::unique_ptr<SectorSource> inner_;
};

struct Recover_Fixture : Window_Fixture {
  Modal_Watcher watcher;
  QString image;
  QTemporaryDir out;

  Recover_Fixture() {
    image = Image(QStringLiteral("card.img"));
    Write_Image(image, 4096, {{100, Small_Pdf()}, {200, Doc_Header()}, {300, Doc_Header()}});
    QVERIFY(window->Add_Image(image));
  }
  // A raw-file scan of the image, to its end.
  void Scan() {
    To_Range_Screen(2, image);
    window->Next_btn();
    window->Next_btn();
    QCOMPARE(window->screen_counter, 3);
    QVERIFY(window->Wait_For_Scan_End(kTimeoutMs));
  }
  void Select_Rows(const std::vector<int>& rows) {
    auto* browser = Find<QListView>("imageBrowser_2");
    for (int r : rows)
      browser->selectionModel()->select(browser->model()->index(r, 0), QItemSelectionModel::Select);
  }
  QStringList Written() const {
    return QDir(out.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  }
  void Recover() {
    window->Recover_btn();
    QVERIFY(window->Wait_For_Recovery_End(kTimeoutMs));
  }
};

}  // namespace

class RecoverWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void button_follows_the_scan() {
    Recover_Fixture f;
    QVERIFY(!f.Shown("_recover_btn"));
    bool enabled_during_scan = true;
    f.watcher.on_notice = [&](QWidget*) { enabled_during_scan = f.Find<QPushButton>("_recover_btn")->isEnabled(); };
    f.Scan();
    QVERIFY(!enabled_during_scan);
    QVERIFY(f.Shown("_recover_btn"));
    QVERIFY(f.Find<QPushButton>("_recover_btn")->isEnabled());
    f.window->Back_btn();  // to the file types: the button goes
    QVERIFY(!f.Shown("_recover_btn"));
  }

  void recovers_selected_items_or_all_data() {
    QTest::addColumn<std::vector<int>>("rows");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("none selected: all") << std::vector<int>{}
                                        << QStringList{"DOC00001.DOC", "DOC00002.DOC", "PDF00001.PDF",
                                                       "recovery-report.csv"};
    QTest::newRow("one selected") << std::vector<int>{0} << QStringList{"PDF00001.PDF", "recovery-report.csv"};
  }
  void recovers_selected_items_or_all() {
    QFETCH(std::vector<int>, rows);
    QFETCH(QStringList, files);
    Recover_Fixture f;
    f.Scan();
    f.Find<QLineEdit>("_path_Sig")->setText(f.out.path());
    f.Select_Rows(rows);
    f.Recover();
    // The thorough pass finds the Word files again (DOC00003, DOC00004): the
    // same bytes, so they are not written twice.
    QCOMPARE(f.Written(), files);
    QFile pdf(QDir(f.out.path()).filePath("PDF00001.PDF"));
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QCOMPARE(pdf.readAll(), Small_Pdf());  // cut at its end, not the sector's
    QCOMPARE(f.watcher.Box_Texts().last(), rows.empty() ? QStringLiteral("3 files recovered.")
                                                        : QStringLiteral("1 file recovered."));
    QCOMPARE(f.chooser->folder_calls, 0);
  }

  void chooser_opens_when_no_folder_is_set() {
    Recover_Fixture f;
    f.Scan();
    f.window->Recover_btn();  // the chooser answers nothing: nothing happens
    QCOMPARE(f.chooser->folder_calls, 1);
    QVERIFY(f.Written().isEmpty());
    f.chooser->folder = f.out.path();
    f.Select_Rows({0});
    f.Recover();
    QCOMPARE(f.Text("_path_Sig"), QDir::toNativeSeparators(f.out.path()));
    QVERIFY(f.Written().contains("PDF00001.PDF"));
  }

  void bad_folder_is_refused() {
    Recover_Fixture f;
    f.Scan();
    f.Find<QLineEdit>("_path_Sig")->setText(f.out.filePath("gone"));
    f.window->Recover_btn();
    QVERIFY(!f.window->Recovery_In_Progress());
    QCOMPARE(f.watcher.Box_Texts().last(), QStringLiteral("The destination folder does not exist."));
  }

  void cancel_leaves_no_partial_file() {
    Recover_Fixture f;
    f.Scan();
    f.Find<QLineEdit>("_path_Sig")->setText(f.out.path());
    const SourceOpener real = f.window->preview_source_opener;
    f.window->preview_source_opener = [real](const std::string& p, std::string* why) -> std::unique_ptr<SectorSource> {
      auto inner = real(p, why);
      return inner ? std::make_unique<Slow_Source>(std::move(inner)) : nullptr;
    };
    f.Select_Rows({1});  // the first Word item runs to the next header: 100 sectors, slowly
    QTimer::singleShot(30, [&] {
      if (auto* d = f.window->findChild<QProgressDialog*>("_recover_progress"))
        d->findChild<QPushButton*>()->click();  // the dialog's Cancel button
    });
    f.Recover();
    QVERIFY(f.Written().filter("DOC").isEmpty());
    QVERIFY(f.Written().filter(".part").isEmpty());
    QCOMPARE(f.watcher.Box_Texts().last(), QStringLiteral("Recovery was cancelled."));
  }
};

QTEST_MAIN(RecoverWindowTest)
#include "recover_window_test.moc"
