// A source that runs a callback with each sector number before reading it
// through another source, and is otherwise that source: for logging reads,
// raising a stop flag or pressing Cancel at a chosen point.
#pragma once

#include <functional>
#include <memory>

#include "engine/sector_source.h"

namespace tamberlin::testing {

class ObservedSource final : public SectorSource {
 public:
  ObservedSource(std::unique_ptr<SectorSource> inner, std::function<void(std::uint64_t)> on_read)
      : inner_(std::move(inner)), on_read_(std::move(on_read)) {}
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    on_read_(sector);
    return inner_->Read_Sector(sector);
  }
  const MediumIdentity* Identity() const override { return inner_->Identity(); }
  std::uint64_t Sector_Count() override { return inner_->Sector_Count(); }

 private:
  std::unique_ptr<SectorSource> inner_;
  std::function<void(std::uint64_t)> on_read_;
};

}  // namespace tamberlin::testing
