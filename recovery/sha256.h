// SHA-256 for the recovery report: fed the bytes as they are written, so a
// file's checksum costs no second read. OpenSSL's digest does the work (it
// uses the CPU's SHA instructions where there are any). One object per file,
// one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tamberlin::recovery {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const std::uint8_t* data, std::size_t size);
  // The digest as 64 lower-case hex digits. Ends the object's use.
  std::string Hex_Digest();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace tamberlin::recovery
