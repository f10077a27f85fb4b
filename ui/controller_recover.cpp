// Recover: writing found items into the destination folder. The folder is
// checked on the UI thread; the copy runs on a worker thread that shares only
// the progress atomics and the cancel flag, polled here on a timer to drive
// the progress dialog.
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QVariant>
#include <set>
#include <thread>

#include "ui/MyTableController.h"
#include "recovery/destination.h"
#include "recovery/recover.h"
#include "ui/results_parts.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {

struct MyTableController::Recovery_Run {
  recovery::RecoveryProgress progress;
  recovery::RecoveryOutcome outcome;  // the worker's until `finished`
  std::atomic<bool> finished{false};
  std::thread worker;
  QString folder;
  std::uint64_t items = 0;
  QProgressDialog* dialog = nullptr;
  QTimer* timer = nullptr;
  QElapsedTimer clock;
  bool keep_doubtful = false;

  ~Recovery_Run() {
    progress.cancel.store(true);
    if (worker.joinable()) worker.join();
  }
};

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

// " N items <singular|plural> text", or nothing for none.
QString Count_Sentence(std::uint64_t n, const char* one, const char* many) {
  if (n == 0) return {};
  return n == 1 ? QStringLiteral(" 1 item %1").arg(QString::fromUtf8(one))
                : QStringLiteral(" %1 items %2").arg(QString::number(n), QString::fromUtf8(many));
}

}  // namespace

bool MyTableController::Recovery_In_Progress() const { return recovery_ && !recovery_->finished.load(); }

bool MyTableController::Wait_For_Recovery_End(int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (recovery_) {
    if (clock.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::vector<results::MyImageObject> MyTableController::Items_To_Recover() const {
  QListView* browser = Recovery_MODE == 0 ? ui->imageBrowser : ui->imageBrowser_2;
  const results::FoundItemModel& model = *results_->model;
  // Browser rows are not list rows while each file is shown once.
  std::set<std::size_t> rows;
  if (browser->selectionModel()) {
    for (const QModelIndex& index : browser->selectionModel()->selectedIndexes()) {
      if (const auto row = model.List_Row(index.row())) rows.insert(*row);
    }
  }
  // None selected: every item found, as the command line recovers them; the
  // ones the browser leaves out are found twice and written once.
  if (rows.empty()) return images.Snapshot();
  std::vector<results::MyImageObject> out;
  for (const std::size_t row : rows) {
    if (auto item = images.At(row)) out.push_back(std::move(*item));
  }
  return out;
}

std::optional<recovery::RecoveryOptions> MyTableController::Confirm_Recovery(std::size_t items,
                                                                            const QString& folder) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Tamberlin"),
                  items == 1 ? QStringLiteral("Recover 1 item into \u201c%1\u201d?").arg(folder)
                             : QStringLiteral("Recover %1 items into \u201c%2\u201d?").arg(QString::number(items), folder),
                  QMessageBox::NoButton, this);
  Apply_Window_Style(&box);
  box.setObjectName(QStringLiteral("_recover_confirm"));
  box.setInformativeText(
      QStringLiteral("Each file is cut to its real end, and an item found twice is written once. An item whose "
                     "bytes are not of the type its header names (a loose signature matched by chance) is not "
                     "written unless you keep it."));
  auto* keep = new QCheckBox(QStringLiteral("Also keep doubtful items (in a \u201cdoubtful\u201d subfolder)"));
  keep->setObjectName(QStringLiteral("_keep_doubtful_chk"));
  keep->setToolTip(QStringLiteral("Items that fail their format's checks are written into the subfolder "
                                  "\u201cdoubtful\u201d instead of being left out."));
  keep->setChecked(keep_doubtful_);
  box.setCheckBox(keep);
  QPushButton* go = box.addButton(QStringLiteral("Recover"), QMessageBox::AcceptRole);
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(go);
  box.exec();
  if (box.clickedButton() != go) return std::nullopt;
  keep_doubtful_ = keep->isChecked();
  recovery::RecoveryOptions options;
  options.keep_doubtful = keep_doubtful_;
  return options;
}

void MyTableController::Recover_btn() {
  if (Scan_In_Progress() || Recovery_In_Progress()) return;
  const std::vector<results::MyImageObject> found = Items_To_Recover();
  if (found.empty()) {
    Show_Alert(this, QStringLiteral("There is nothing to recover."),
               QStringLiteral("The scan found no items on this medium."));
    return;
  }

  QLineEdit* path_field = Recovery_MODE == 0 ? ui->_path : ui->_path_Sig;
  if (path_field->text().trimmed().isEmpty()) {
    openPanelDidEnd(chooser_->Choose_Folder(controlPanel, Chosen_Folder()));
    if (path_field->text().trimmed().isEmpty()) return;
  }
  const QString folder = QDir::fromNativeSeparators(path_field->text().trimmed());
  const std::string source_path = Device_Path(ui->_disk_identifier->text().toStdString());
  if (const auto problem = recovery::Check_Destination(folder.toStdString(), source_path)) {
    Show_Alert(this, Text(problem->message), Text(problem->informative));
    return;
  }

  const auto mode = static_cast<RecoveryMode>(Recovery_MODE.load());
  const bool photo = mode == RecoveryMode::Photo;
  std::vector<recovery::FoundRange> ranges;
  for (const auto& f : found) {
    ranges.push_back({f.image_Name.toStdString(), photo ? f.First_Sector : f.File_Start_Sector,
                      photo ? f.First_Sector + f.Sector_Count : f.File_End_Sector});
  }
  recovery::RecoveryPlan plan =
      recovery::Plan_Recovery(ranges, catalogue.General(mode), catalogue.Thorough(mode), folder.toStdString());
  if (const auto& problem = plan.space_warning) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Tamberlin"), Text(problem->message), QMessageBox::NoButton,
                    this);
    box.setInformativeText(Text(problem->informative));
    QPushButton* go = box.addButton(QStringLiteral("Recover Anyway"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() != go) return;
  }
  std::string why;
  std::shared_ptr<SectorSource> source(Scanned_Medium(preview_source_opener)(source_path, &why).release());
  if (!source) {
    Show_Alert(this, QStringLiteral("\nError in storage media reading."), Text(why));
    return;
  }

  const auto options = Confirm_Recovery(plan.items.size(), QDir::toNativeSeparators(folder));
  if (!options) return;

  recovery_ = std::make_shared<Recovery_Run>();
  Recovery_Run& run = *recovery_;
  run.folder = folder;
  run.keep_doubtful = options->keep_doubtful;
  run.items = plan.items.size();
  run.clock.start();
  run.dialog = new QProgressDialog(QStringLiteral("Preparing\u2026"), QStringLiteral("Cancel"), 0,
                                   static_cast<int>(plan.items.size()), this);
  run.dialog->setObjectName(QStringLiteral("_recover_progress"));
  run.dialog->setWindowTitle(QStringLiteral("Recovering"));
  run.dialog->setWindowModality(Qt::WindowModal);
  run.dialog->setMinimumDuration(0);
  run.dialog->setAutoClose(false);
  run.dialog->setAutoReset(false);
  connect(run.dialog, &QProgressDialog::canceled, this, [this] {
    if (recovery_) {
      recovery_->progress.cancel.store(true);
      recovery_->dialog->setLabelText(QStringLiteral("Cancelling\u2026"));
    }
  });
  run.timer = new QTimer(this);
  run.timer->setInterval(100);
  connect(run.timer, &QTimer::timeout, this, &MyTableController::Poll_Recovery);
  run.worker = std::thread([&run, source, items = std::move(plan.items), dest = folder.toStdString(),
                            recover = recover_items, options = *options] {
    run.outcome = recover(*source, items, dest, run.progress, options);
    run.finished.store(true);
  });
  run.dialog->show();
  run.timer->start();
}

void MyTableController::Poll_Recovery() {
  if (!recovery_) return;
  Recovery_Run& run = *recovery_;
  if (run.finished.load()) {
    Finish_Recovery();
    return;
  }
  const std::uint64_t done = run.progress.items_done.load();
  const std::uint64_t bytes = run.progress.bytes_written.load();
  const double seconds = std::max(0.001, static_cast<double>(run.clock.elapsed()) / 1000.0);
  const auto speed = static_cast<std::uint64_t>(static_cast<double>(bytes) / seconds);
  run.dialog->setValue(static_cast<int>(done));
  if (!run.progress.cancel.load()) {
    run.dialog->setLabelText(QStringLiteral("Recovering item %1 of %2\n%3 written, %4/s")
                                 .arg(std::min(done + 1, run.items))
                                 .arg(run.items)
                                 .arg(Text(recovery::Size_Text(bytes)), Text(recovery::Size_Text(speed))));
  }
}

void MyTableController::Finish_Recovery() {
  std::shared_ptr<Recovery_Run> run = std::move(recovery_);
  if (run->worker.joinable()) run->worker.join();
  run->timer->stop();
  run->timer->deleteLater();
  run->dialog->hide();
  run->dialog->deleteLater();

  const recovery::RecoveryOutcome& out = run->outcome;
  const QString folder = QDir::toNativeSeparators(run->folder);
  QString report =
      out.report_path.empty()
          ? QString()
          : QStringLiteral("\n\nThe report %1 lists every file with its sectors and SHA-256 checksum.")
                .arg(Text(out.report_path.filename().string()));
  if (out.stale_parts_removed != 0)
    report += QStringLiteral("\n\n%1 unfinished files left by an earlier, stopped recovery were removed.")
                  .arg(out.stale_parts_removed);
  const QString counts = QStringLiteral("%1 cut to their real end, %2 extended to it.")
                             .arg(out.Count(recovery::ItemEnd::Trimmed))
                             .arg(out.Count(recovery::ItemEnd::Extended));
  if (out.cancelled) {
    Show_Alert(this, QStringLiteral("Recovery was cancelled."),
               QStringLiteral("%1 of %2 items were recovered into \u201c%3\u201d before the cancel; no partial "
                              "file was left.%4")
                   .arg(out.files_written)
                   .arg(run->items)
                   .arg(folder, report));
  } else if (out.stopped_because) {
    Show_Alert(this, QStringLiteral("Recovery stopped before the end."),
               QStringLiteral("%1\n\n%2 of %3 items were recovered into \u201c%4\u201d; no partial file was left.%5")
                   .arg(Text(*out.stopped_because))
                   .arg(out.files_written)
                   .arg(run->items)
                   .arg(folder, report));
  } else {
    const QString same = out.duplicates == 0
                             ? QString()
                             : QStringLiteral(" %1 items held the same bytes as another item (both passes found "
                                              "them) and were not written twice.")
                                   .arg(out.duplicates);
    const QString junk =
        run->keep_doubtful
            ? Count_Sentence(out.not_this_format,
                             "failed its format's checks and was put in the \u201cdoubtful\u201d subfolder.",
                             "failed their format's checks and were put in the \u201cdoubtful\u201d subfolder.")
            : Count_Sentence(out.not_this_format,
                             "was not written: its bytes are not of the type its header names.",
                             "were not written: their bytes are not of the type their header names.");
    const QString inside = Count_Sentence(out.inside, "lies wholly inside another recovered file and was not written again.",
                                          "lie wholly inside other recovered files and were not written again.");
    Show_Alert(this,
               out.files_written == 1 ? QStringLiteral("1 file recovered.")
                                      : QStringLiteral("%1 files recovered.").arg(out.files_written),
               QStringLiteral("The files are in \u201c%1\u201d. %2%3%4%5%6")
                   .arg(folder, counts, junk, inside, same, report));
  }
}

void MyTableController::Shut_Down_Recovery() {
  if (!recovery_) return;
  recovery_->progress.cancel.store(true);
  if (recovery_->worker.joinable()) recovery_->worker.join();
  recovery_.reset();
}

}  // namespace tamberlin::ui
