#include "engine/naming.h"

namespace tamberlin {
namespace {

std::string Padded(std::string_view prefix, std::uint64_t number, std::string_view extension) {
  std::string digits = std::to_string(number);
  std::string out(prefix);
  if (digits.size() < 5) out.append(5 - digits.size(), '0');
  out += digits;
  out += '.';
  out += extension;
  return out;
}

}  // namespace

std::string Generate_File_Name(std::uint64_t number, std::string_view prefix,
                               std::string_view extension, RecoveryMode mode,
                               const TypeCounts* counts) {
  if (mode != RecoveryMode::Photo && counts != nullptr) {
    if (const auto found = counts->NoOfFile(prefix)) number = *found + 1;
  }
  return Padded(prefix, number, extension);
}

std::string Generate_File_UID_Num(std::uint64_t number, bool thorough, std::string_view extension) {
  return Padded(thorough ? "THD" : "GND", number, extension);
}

}  // namespace tamberlin
