// Recover through the window: the selected items (or all) land in the
// destination folder with a report, the folder chooser opens when no folder
// is set, a bad folder is refused, and Cancel leaves no half-written file.
#include <QTimer>

#include <atomic>
#include <thread>

#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

constexpr int kTimeoutMs = 300000;  // a guard against a hang, not a speed check

// A PDF that ends well inside its sectors.
const QByteArray kPdf("%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n");

// Reads through another source and runs `on_read` with the count of reads so far.
class Watched_Source final : public SectorSource {
 public:
  Watched_Source(std::unique_ptr<SectorSource> inner, std::function<void(int)> on_read)
      : inner_(std::move(inner)), on_read_(std::move(on_read)) {}
  const std::uint8_t* Read_Sector(std::uint64_t s) override {
    on_read_(++reads_);
    return inner_->Read_Sector(s);
  }

 private:
  std::unique_ptr<SectorSource> inner_;
  std::function<void(int)> on_read_;
  int reads_ = 0;
};

// A raw-file scan of an image with the PDF at 100 and Word headers at 200 and 300.
struct Recover_Fixture : Window_Fixture {
  Modal_Watcher watcher;
  QTemporaryDir out;

  Recover_Fixture() {
    const QString image = Image(QStringLiteral("card.img"));
    Write_Image(image, 4096, {{100, kPdf}, {200, Doc_Header()}, {300, Doc_Header()}});
    QVERIFY(window->Add_Image(image));
    To_Range_Screen(2, image);
    window->Next_btn();
    window->Next_btn();
    QVERIFY(window->Wait_For_Scan_End(kTimeoutMs));
  }
  QStringList Written() const { return QDir(out.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
  // Recovers the items in these rows (every item when none).
  void Recover(const std::vector<int>& rows) {
    auto* browser = Find<QListView>("imageBrowser_2");
    for (int r : rows) browser->selectionModel()->select(browser->model()->index(r, 0), QItemSelectionModel::Select);
    window->Recover_btn();
    QVERIFY(window->Wait_For_Recovery_End(kTimeoutMs));
  }
};

}  // namespace

class RecoverWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void recovers_selected_items_or_all_data() {
    QTest::addColumn<std::vector<int>>("rows");
    QTest::addColumn<QStringList>("files");
    // The thorough pass finds the Word files again: the same bytes, written once.
    QTest::newRow("none selected: all")
        << std::vector<int>{} << QStringList{"DOC00001.DOC", "DOC00002.DOC", "PDF00001.PDF", "recovery-report.csv"};
    QTest::newRow("one selected") << std::vector<int>{0} << QStringList{"PDF00001.PDF", "recovery-report.csv"};
  }
  void recovers_selected_items_or_all() {
    QFETCH(std::vector<int>, rows);
    QFETCH(QStringList, files);
    Recover_Fixture f;
    f.Find<QLineEdit>("_path_Sig")->setText(f.out.path());
    f.Recover(rows);
    QCOMPARE(f.Written(), files);
    QFile pdf(QDir(f.out.path()).filePath("PDF00001.PDF"));
    QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.readAll() == kPdf);  // cut at its end, not the sector's
    QCOMPARE(f.watcher.Box_Texts().last(),
             rows.empty() ? QStringLiteral("3 files recovered.") : QStringLiteral("1 file recovered."));
  }

  void chooser_opens_when_no_folder_is_set_and_a_bad_folder_is_refused() {
    Recover_Fixture f;
    f.window->Recover_btn();  // the chooser answers nothing: nothing happens
    QCOMPARE(f.chooser->folder_calls, 1);
    f.Find<QLineEdit>("_path_Sig")->setText(f.out.filePath("gone"));
    f.window->Recover_btn();
    QVERIFY(!f.window->Recovery_In_Progress());
    QCOMPARE(f.watcher.Box_Texts().last(), QStringLiteral("The destination folder does not exist."));
    f.Find<QLineEdit>("_path_Sig")->clear();
    f.chooser->folder = f.out.path();
    f.Recover({0});
    QCOMPARE(f.Text("_path_Sig"), QDir::toNativeSeparators(f.out.path()));
    QVERIFY(f.Written().contains("PDF00001.PDF"));
  }

  // Cancel pressed while the first Word item (100 sectors, to the next
  // header) is being copied.
  void cancel_leaves_no_partial_file() {
    Recover_Fixture f;
    f.Find<QLineEdit>("_path_Sig")->setText(f.out.path());
    const SourceOpener real = f.window->preview_source_opener;
    MyTableController* window = f.window.get();
    // The worker stops at its tenth read until the UI thread has pressed
    // Cancel; the hand-over goes through atomics only.
    auto reached = std::make_shared<std::atomic<bool>>(false), pressed = std::make_shared<std::atomic<bool>>(false);
    f.window->preview_source_opener = [real, window, reached, pressed](
                                          const std::string& p, std::string* why) -> std::unique_ptr<SectorSource> {
      auto inner = real(p, why);
      if (!inner) return nullptr;
      // Selecting the row copies a preview on the UI thread first: only the
      // recovery worker's copy is cancelled.
      return std::make_unique<Watched_Source>(std::move(inner), [window, reached, pressed](int reads) {
        if (reads != 10 || QThread::currentThread() == window->thread()) return;
        reached->store(true);
        while (!pressed->load()) std::this_thread::yield();
      });
    };
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
      if (!reached->load() || pressed->load()) return;
      window->findChild<QProgressDialog*>("_recover_progress")->findChild<QPushButton*>()->click();
      pressed->store(true);
    });
    press.start(1);
    f.Recover({1});
    QVERIFY(f.Written().filter("DOC").isEmpty());
    QVERIFY(f.Written().filter(".part").isEmpty());
    QCOMPARE(f.watcher.Box_Texts().last(), QStringLiteral("Recovery was cancelled."));
  }
};

QTEST_MAIN(RecoverWindowTest)
#include "recover_window_test.moc"
