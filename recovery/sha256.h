// SHA-256 for the recovery report: fed the bytes as they are written, so a
// file's checksum costs no second read. One object per file, one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tamberlin::recovery {

class Sha256 {
 public:
  Sha256();
  void Update(const std::uint8_t* data, std::size_t size);
  // The digest as 64 lower-case hex digits. Ends the object's use.
  std::string Hex_Digest();

 private:
  void Block(const std::uint8_t* block);
  std::array<std::uint32_t, 8> h_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace tamberlin::recovery
