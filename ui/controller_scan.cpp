// Starting a scan, showing its progress, stopping it and the end-of-scan
// screen.
//
// The scan runs on its own thread (ScanRunner) and reaches the window only
// through Window_Scan_Host. Widgets belong to the UI thread, so the host
// queues each window call and wakes the UI thread, which runs the queued
// calls in order (Run_Scan_Calls). The scan thread does not wait for that,
// except for alerts and the end-of-scan notice, which it waits on until the
// user has dismissed them. The found-item list and the summary records take
// their items straight from the scan thread; they lock for themselves.
//
// The queue is a plain mutex and condition variable rather than Qt's blocking
// connection: a window that closes mid-scan can release a scan thread that
// waits on it, and the hand-off is visible to the thread sanitizer.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "ui/MyTableController.h"
#include "engine/decimal.h"
#include "ui/help_texts.h"
#include "results/qt/browser_model.h"
#include "results/qt/item_text.h"
#include "ui/results_parts.h"
#include "ui_MyTableController.h"

namespace tamberlin::ui {
namespace {

constexpr int kProgressSteps = 10000;  // the bar's scale; sector counts exceed int
constexpr int kProgressIntervalMs = 500;
constexpr const char* kNoPreviewTitle = "No file is selected to preview";

}  // namespace

class MyTableController::Window_Scan_Host final : public ScanHost {
 public:
  explicit Window_Scan_Host(MyTableController* window) : w_(window) {}

  // UI thread: runs the calls queued so far, in order.
  void Run_Calls() {
    std::deque<std::function<void()>> calls;
    {
      const std::lock_guard lock(mu_);
      calls.swap(calls_);
      wake_posted_ = false;
      if (closed_) return;
    }
    for (auto& call : calls) call();
  }

  // UI thread, the window is going: queued calls are dropped, later ones are
  // refused, and a scan thread waiting for the user is let go.
  void Close() {
    std::deque<std::function<void()>> dropped;
    {
      const std::lock_guard lock(mu_);
      closed_ = true;
      dropped.swap(calls_);
    }
    done_.notify_all();
  }

  void Set_Mode_Label(const std::string& text) override {
    Post([w = w_, text] {
      w->ui->_Mode_label->setText(QString::fromStdString(text));
      w->Show_Pass(text == kThoroughModeLabel);
    });
  }
  void Set_Sector_Label(const std::string& text) override {
    Post([w = w_, text] { w->ui->_sector_label->setText(QString::fromStdString(text)); });
  }
  void Set_Progress_Range(double maximum) override {
    Post([w = w_, maximum] {
      w->progress_maximum_ = maximum;
      w->progress_rate_.Restart_Pass();
      w->ui->_Progress_Horz->setRange(0, kProgressSteps);
      w->ui->_Progress_Horz->setValue(0);
    });
  }
  void Set_Progress_Value(double value) override {
    Post([w = w_, value] { w->Show_Progress_Value(value); });
  }
  void Set_Help_Info(const std::string& text) override {
    Post([w = w_, text] { w->ui->_help_info->setText(QString::fromStdString(text)); });
  }
  // The list was emptied on the UI thread when the scan was launched, just
  // before this general pass began, so nothing is left to clear here.
  void Clear_Found_Items(RecoveryMode) override {}
  void Scan_Started(RecoveryMode mode) override {
    Post([w = w_, mode] {
      if (mode == RecoveryMode::Photo) {
        w->ui->_Thro_Mode_Chk->setEnabled(false);
        w->ui->_browse_path->setEnabled(false);
      } else {
        w->ui->_QuickLook_View_Box->setTitle(QString::fromUtf8(kNoPreviewTitle));
      }
    });
  }
  void Open_Failed(RecoveryMode mode) override {
    Post([w = w_, mode] { w->Scan_Open_Failed(mode); });
  }
  void Stop_Progress_Timer() override {
    Post([w = w_] { w->Stop_Progress_Timer(); });
  }
  void Alert(const std::string& message, const std::string& informative) override {
    Post_And_Wait([w = w_, message, informative] {
      Show_Alert(w, QString::fromStdString(message), QString::fromStdString(informative));
    });
  }
  void Final_or_Stop_Screen() override {
    Post_And_Wait([w = w_] { w->Final_or_Stop_Screen(); });
  }
  void addImageWithData(const std::vector<std::uint8_t>& bytes, const std::string& name,
                        const std::string& uid, std::uint64_t first_sector,
                        std::uint64_t sector_count) override {
    w_->addImageWithData(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())),
        QString::fromStdString(name), QString::fromStdString(uid), first_sector, sector_count);
  }
  void addImageWithData_2(const std::string& name, const std::string& uid, std::uint64_t start_sector,
                          std::uint64_t end_sector) override {
    w_->addImageWithData_2(QString::fromStdString(name), QString::fromStdString(uid), start_sector,
                           end_sector);
  }
  bool Hand_End_To_Preview() override {
    int open = kSessionOpen;
    return w_->session.compare_exchange_strong(open, kScanEndHandedOver);
  }

 private:
  void Post(std::function<void()> call) {
    bool wake = false;
    {
      const std::lock_guard lock(mu_);
      if (closed_) return;
      calls_.push_back(std::move(call));
      wake = !wake_posted_;
      wake_posted_ = true;
    }
    if (wake) QMetaObject::invokeMethod(w_, "Run_Scan_Calls", Qt::QueuedConnection);
  }

  // Runs `call` on the UI thread and returns when it has returned (at once
  // when the window is closing).
  void Post_And_Wait(std::function<void()> call) {
    if (QThread::currentThread() == w_->thread()) {
      call();
      return;
    }
    auto finished = std::make_shared<bool>(false);
    Post([this, call = std::move(call), finished] {
      call();
      {
        const std::lock_guard lock(mu_);
        *finished = true;
      }
      done_.notify_all();
    });
    std::unique_lock lock(mu_);
    done_.wait(lock, [&] { return *finished || closed_; });
  }

  MyTableController* w_;
  std::mutex mu_;
  std::condition_variable done_;
  std::deque<std::function<void()>> calls_;
  bool wake_posted_ = false;
  bool closed_ = false;
};

void MyTableController::Setup_Scan() {
  scan_host_ = std::make_shared<Window_Scan_Host>(this);
  mSetLabelTimer = new QTimer(this);
  mSetLabelTimer->setObjectName(QStringLiteral("mSetLabelTimer"));
  mSetLabelTimer->setInterval(kProgressIntervalMs);
  connect(mSetLabelTimer, &QTimer::timeout, this, &MyTableController::timerTickSetLabel);
  connect(ui->_stop_scan, &QPushButton::clicked, this, &MyTableController::stop_usb_disk);
}

void MyTableController::Run_Scan_Calls() {
  if (scan_host_) scan_host_->Run_Calls();
}

void MyTableController::Shut_Down_Scan() {
  scan_state.stop_now.store(1);
  if (scan_host_) scan_host_->Close();
  scan_runner_.Join();
  if (mSetLabelTimer) mSetLabelTimer->stop();
}

bool MyTableController::Scan_In_Progress() const { return scan_runner_.Running(); }

bool MyTableController::Wait_For_Scan_End(int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (scan_runner_.Running()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  QCoreApplication::processEvents();  // the last calls the thread handed over
  return true;
}

ScanSettings MyTableController::Read_Scan_Settings() const {
  ScanSettings s;
  s.disk_identifier = ui->_disk_identifier->text().toStdString();
  const auto number = [](const QLineEdit* field) { return Leading_Decimal(field->text().toStdString()); };
  s.sectors_val = number(ui->_sectors_val);
  s.entire_disk_rd = ui->_entire_disk_rd->isChecked();
  s.sector_range_rd = ui->_sector_range_rd->isChecked();
  s.Start_slider_val = number(ui->_Start_slider_val);
  s.End_slider_val = number(ui->_End_slider_val);
  s.entire_disk_rd_Sig = ui->_entire_disk_rd_Sig->isChecked();
  s.sector_range_rd_Sig = ui->_sector_range_rd_Sig->isChecked();
  s.Start_slider_val_Sig = number(ui->_Start_slider_val_Sig);
  s.End_slider_val_Sig = number(ui->_End_slider_val_Sig);
  s.Thro_Mode_Chk = ui->_Thro_Mode_Chk->isChecked();
  s.Thro_Mode_Chk_SIG = ui->_Thro_Mode_Chk_SIG->isChecked();
  return s;
}

void MyTableController::Launch_Scan() {
  ScanJob job;
  job.mode = static_cast<RecoveryMode>(Recovery_MODE.load());
  job.settings = Read_Scan_Settings();
  if (job.mode == RecoveryMode::Photo) {
    job.general_records = catalogue.Ext_Array;
    job.thorough_records = catalogue.Adv_Ext_Array;
  } else {
    job.general_records = CheckListHeader_Array;
    job.thorough_records = CheckListHeader_Adv_Array;
  }
  job.state = &scan_state;
  job.host = scan_host_.get();
  job.counts = &nsSIGFileInfoDataObject;
  // The medium's identity, taken before the first read; every later open of
  // this scan's medium is checked against it.
  scan_medium_ = Read_Medium_Identity(Device_Path(job.settings.disk_identifier), nullptr);
  job.open_source = Scanned_Medium(scan_source_opener);
  // What the general pass starts with: no found items, browsers at their
  // first zoom. Done here, before the thread exists, so no item of the new
  // scan can be added before it.
  Clear_Found_Items();
  scan_runner_.Join();  // the earlier scan's thread has ended (Next waits for that)
  scan_state.stop_now.store(0);
  scan_state.stop_screen_already_show.store(0);
  scan_state.for_index.store(0);
  scan_state.start_sector.store(0);
  scan_state.end_sector.store(0);
  scan_state.total_sector.store(0);
  progress_maximum_ = 0;
  ui->_Progress_Horz->setRange(0, kProgressSteps);
  ui->_Progress_Horz->setValue(0);
  // The zoom comes back with the end-of-scan screen (photo mode).
  ui->_zoom_label->hide();
  ui->_zoom_slider->hide();
  Show_Pass(false);
  progress_rate_.Reset();
  progress_rate_.Add(0, 0);  // the clock starts with the scan
  ui->_rate_label->clear();
  scan_clock_.start();
  mSetLabelTimer->start();
  scan_runner_.Start(std::move(job));
}

void MyTableController::stop_usb_disk() { scan_state.stop_now.store(1); }

void MyTableController::Show_Progress_Value(double value) {
  int steps = 0;
  if (progress_maximum_ > 0) {
    const double share = value / progress_maximum_;
    steps = static_cast<int>(std::min(1.0, std::max(0.0, share)) * kProgressSteps);
  }
  ui->_Progress_Horz->setValue(steps);
}

void MyTableController::timerTickSetLabel() {
  const auto view = tamberlin::timerTickSetLabel(scan_state);
  if (!view) return;
  ui->_sector_label->setText(QString::fromStdString(view->label));
  if (progress_maximum_ <= 0) progress_maximum_ = static_cast<double>(scan_state.total_sector.load());
  Show_Progress_Value(view->value);
  if (!scan_clock_.isValid()) return;
  // Speed and time left of this pass, from the sectors read so far.
  const std::uint64_t start = scan_state.start_sector.load();
  const std::uint64_t at = scan_state.for_index.load();
  const std::uint64_t done = at > start ? at - start : 0;
  progress_rate_.Add(static_cast<double>(scan_clock_.elapsed()) / 1000.0, done * 512);
  ui->_rate_label->setText(Rate_Text(progress_rate_, scan_state.total_sector.load() * 512));
}

void MyTableController::Show_Pass(bool thorough) {
  // The bar starts again at 0% with the thorough pass; it says which pass runs.
  ui->_Progress_Horz->setFormat(thorough ? tr("Thorough pass %p%") : tr("General pass %p%"));
  ui->_Progress_Horz->setTextVisible(true);
}

void MyTableController::Stop_Progress_Timer() {
  if (!mSetLabelTimer->isActive()) return;
  mSetLabelTimer->stop();
  timerTickSetLabel();  // the last position reached
}

void MyTableController::Scan_Open_Failed(RecoveryMode mode) {
  --screen_counter;
  Stop_Progress_Timer();
  if (mode == RecoveryMode::Photo) {
    show_hide_2_screen(false);
    show_hide_3_screen_Photo(true);
  } else {
    show_hide_3_screen_RawFile(false);
    show_hide_4_screen_RawFile(true);
  }
  Image_Count = 0;
}

void MyTableController::Final_or_Stop_Screen() {
  if (end_notice_running_) return;  // already on screen for this scan
  scan_state.stop_screen_already_show.store(1);
  scan_state.stop_now.store(1);
  ui->_help_info->setText(QString::fromUtf8(kEndHelp));
  Stop_Progress_Timer();
  ui->_Mode_label->hide();
  ui->_Progress_Horz->hide();
  ui->_sector_label->hide();
  ui->_stop_scan->hide();
  ui->_rate_label->hide();

  const bool photo = Recovery_MODE == 0;
  NoticeWindow* notice = photo ? static_cast<NoticeWindow*>(SaveFile_Info_Window)
                               : static_cast<NoticeWindow*>(SaveFile_Info_For_RAW_Window);
  const QString text = notice->Message()->text();
  const std::uint64_t unreadable = scan_state.unreadable_sectors.load();
  if (unreadable != 0) {
    notice->Message()->setText(text + QStringLiteral("\n\n") +
                               tr("%n sector(s) of the medium could not be read and were searched as zeros.",
                                  nullptr, static_cast<int>(std::min<std::uint64_t>(unreadable, INT32_MAX))));
  }
  Reload_Results();
  notice->Set_Informative(results::Found_Summary(results_->model->rowCount(), results_->model->Items_Seen()));
  end_notice_running_ = true;
  Run_Modal_Notice(notice);
  end_notice_running_ = false;
  notice->Message()->setText(text);
  notice->Set_Informative({});

  scan_state.stop_now.store(0);
  ui->_zoom_label->setHidden(!photo);
  ui->_zoom_slider->setHidden(!photo);
  ui->_back_btn->setEnabled(true);
  ui->_recover_btn->setEnabled(true);
  ui->_browse_path->setEnabled(true);
  ui->_Thro_Mode_Chk->setEnabled(true);
}

}  // namespace tamberlin::ui
