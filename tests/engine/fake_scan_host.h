// A ScanHost that records what a scan does, for the engine tests.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/scan.h"
#include "results/summary_records.h"

namespace tamberlin::testing {

struct FoundItem {
  std::string name, uid;
  std::uint64_t start = 0, end = 0;  // photo: first sector, first + sector count
  std::size_t bytes = 0;
  std::vector<std::uint8_t> data;
};

class FakeScanHost : public ScanHost {
 public:
  void Set_Mode_Label(const std::string& text) override { Log("mode:" + text); }
  void Set_Sector_Label(const std::string& text) override { Log("sector:" + text); }
  void Set_Progress_Range(double maximum) override { Log("range:" + std::to_string(static_cast<long long>(maximum))); }
  void Set_Progress_Value(double) override {}
  void Set_Help_Info(const std::string& text) override { Log("help:" + text); }
  void Clear_Found_Items(RecoveryMode) override {
    std::lock_guard l(mu);
    items.clear();
    log.push_back("clear");
  }
  void Scan_Started(RecoveryMode) override { Log("started"); }
  void Open_Failed(RecoveryMode) override { Log("open-failed"); }
  void Stop_Progress_Timer() override { Log("timer-stopped"); }
  void Alert(const std::string& message, const std::string& informative) override {
    std::lock_guard l(mu);
    alerts.push_back(message);
    informatives.push_back(informative);
  }
  void Final_or_Stop_Screen() override {
    {
      std::lock_guard l(mu);
      ++final_screens;
    }
    if (on_final) on_final();
  }
  void addImageWithData(const std::vector<std::uint8_t>& bytes, const std::string& name, const std::string& uid,
                        std::uint64_t first_sector, std::uint64_t sector_count) override {
    std::lock_guard l(mu);
    items.push_back({name, uid, first_sector, first_sector + sector_count, bytes.size(), bytes});
    if (on_item) on_item(items.size());
  }
  void addImageWithData_2(const std::string& name, const std::string& uid, std::uint64_t start,
                          std::uint64_t end) override {
    std::lock_guard l(mu);
    items.push_back({name, uid, start, end, 0, {}});
    summary.Count_Item(name);
    if (on_item) on_item(items.size());
  }
  bool Hand_End_To_Preview() override { return false; }

  void Log(std::string s) {
    std::lock_guard l(mu);
    log.push_back(std::move(s));
  }

  std::mutex mu;
  std::vector<std::string> log;
  std::vector<FoundItem> items;
  std::vector<std::string> alerts, informatives;
  int final_screens = 0;
  std::function<void(std::size_t)> on_item;  // called with the item count, under the lock
  std::function<void()> on_final;
  SignatureList summary;
};

}  // namespace tamberlin::testing
