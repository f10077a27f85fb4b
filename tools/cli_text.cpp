#include "tools/cli_text.h"

namespace tamberlin::cli {
namespace {

constexpr std::string_view kDeniedHead = "Permission denied opening ";
constexpr std::string_view kDeniedTail = ". Reading a device needs";
constexpr std::string_view kImageDeniedTail = ". Your account may not read this disk image file.";
constexpr std::string_view kGoneTail = " does not exist. The medium may have been removed: plug it in again and refresh the list.";

struct Rewording {
  std::string_view window, terminal;
};

constexpr Rewording kRewordings[] = {
    {"Please choose a folder on another disk.", "Give --recover a folder on another disk."},
    {"Please choose another folder.", "Give --recover another folder."},
    {"Please choose a folder.", "Give --recover a folder."},
    {"Only disk image files (.img, .dd, .iso) can be added.", "Only disk image files (.img, .dd, .iso) can be listed."},
};

}  // namespace

std::string Csv_Field(std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
  std::string out = "\"";
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string Type_Of(std::string_view name, const std::set<std::string>& types) {
  const std::string* best = nullptr;
  for (const std::string& t : types) {
    if (name.size() > t.size() && name.ends_with(t) && name[name.size() - t.size() - 1] == '.' &&
        (best == nullptr || t.size() > best->size())) {
      best = &t;
    }
  }
  if (best != nullptr) return *best;
  const auto dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

std::string Terminal_Text(std::string text) {
  while (!text.empty() && text.front() == '\n') text.erase(text.begin());
  if (text.starts_with(kDeniedHead)) {
    if (const auto tail = text.find(kDeniedTail); tail != std::string::npos) {
      const std::string path = text.substr(kDeniedHead.size(), tail - kDeniedHead.size());
      return "cannot open " + path +
             ": permission denied; run as root or join the disk group (sudo usermod -aG disk $USER, "
             "then log in again)";
    }
  }
  if (text.starts_with(kDeniedHead) && text.ends_with(kImageDeniedTail)) {
    return "cannot open " + text.substr(kDeniedHead.size(), text.size() - kDeniedHead.size() - kImageDeniedTail.size()) +
           ": permission denied";
  }
  if (text.ends_with(kGoneTail)) {
    return "cannot open " + text.substr(0, text.size() - kGoneTail.size()) +
           ": no such device; the medium may have been removed (tamberlin-cli media lists what is there)";
  }
  for (const auto& [window, terminal] : kRewordings) {
    if (const auto at = text.find(window); at != std::string::npos) text.replace(at, window.size(), terminal);
  }
  return text;
}

}  // namespace tamberlin::cli
