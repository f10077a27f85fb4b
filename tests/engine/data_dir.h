// The data folder the engine tests read the shipped files from.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tamberlin::testing {

// TAMBERLIN_DATA_DIR when set, otherwise share/tamberlin beside the bin
// folder the test runs from (the build tree's layout); empty when neither.
inline std::filesystem::path Data_Dir() {
  if (const char* dir = std::getenv("TAMBERLIN_DATA_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  auto dir = (exe.parent_path() / ".." / "share" / "tamberlin").lexically_normal();
  return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

}  // namespace tamberlin::testing
