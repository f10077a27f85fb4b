// What the format tests share: a QGuiApplication for the whole run, files made
// by tools or by Qt's writers, the sample and hand-edit tables' checks, and a
// hand-made PE image.
#pragma once

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <tuple>

#include "recovery/item_fixture.h"
#include "run_tool.h"

// Tests that draw or write real files with Qt (pictures, PDFs) need a
// QGuiApplication. Including this header makes one for the whole run, offscreen
// unless QT_QPA_PLATFORM says otherwise; it is not made at test discovery,
// which runs the binary without a display.
namespace tamberlin::testing {

class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QCoreApplication::instance() == nullptr) app_ = std::make_unique<QGuiApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[15] = "tamberlin_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QGuiApplication> app_;
};

[[maybe_unused]] inline ::testing::Environment* const kGuiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace tamberlin::testing

// A made file (or why this machine cannot make it), one made by a tool, the
// sample and hand-edit tables, and the checks every sample and edit gets.
namespace tamberlin::recovery::testing {

struct Made {
  Made(QByteArray b = {}, QString why = {}) : bytes(std::move(b)), skip(std::move(why)) {}
  QByteArray bytes;
  QString skip;
  qsizetype first = 0;  // for joined members or streams, the length of the first one
};

// `program` run once per test run with `args` in a fresh folder that `setup`
// may fill; the whole of the file `result` it writes there.
inline Made Run_Tool(const QString& program, const QStringList& args, const QString& result,
                     const std::function<void(const QDir&)>& setup = {}) {
  static std::map<QStringList, Made> made;
  const auto [it, fresh] = made.try_emplace(QStringList{program, result} + args);
  if (!fresh) return it->second;
  QTemporaryDir dir;
  if (setup) setup(QDir(dir.path()));
  const tamberlin::testing::ToolRun run = tamberlin::testing::Run_Tool(program, args, {}, dir.path());
  QFile out(dir.filePath(result));
  if (!run.Ok() || !out.open(QIODevice::ReadOnly) || out.size() == 0)
    return it->second = {{}, run.Ok() ? program + " wrote no " + result : run.problem};
  return it->second = out.readAll();
}

// `image` as Qt's writer for `format` writes it (progressive where it can), or why it cannot.
inline Made Write(const QImage& image, const char* format, bool progressive = false) {
  if (!QImageWriter::supportedImageFormats().contains(format)) return {{}, QStringLiteral("no Qt writer for it")};
  QByteArray out;
  QBuffer buf(&out);
  QImageWriter writer(&buf, format);
  writer.setProgressiveScanWrite(progressive);
  return writer.write(image) ? Made(out) : Made({}, writer.errorString());
}

inline void Set32(QByteArray& b, qsizetype at, std::uint32_t v, bool big_endian = false) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (big_endian ? 24 - 8 * i : 8 * i));
}

struct Sample {
  const char* name;
  EndFinder finder;
  std::function<Made()> make;
  bool may_end_early = false;  // no stated length, or a trailing tag: a cut may end the file at an earlier frame
};
inline void PrintTo(const Sample& s, std::ostream* os) { *os << s.name; }
inline const auto kByName = [](const auto& p) { return std::string(p.param.name); };

// The whole file ends exactly with garbage or zeros after it, whatever the
// range; cut short by the limit or by the medium's end, no end is found past
// the cut. `core`: where the file ends without its optional padding.
inline void Expect_Exact_End_Never_Past_A_Cut(const Sample& s, const QByteArray& file, std::uint64_t core = 0) {
  const auto size = static_cast<std::uint64_t>(file.size());
  if (core == 0) core = size;
  const qsizetype half = file.size() / 2 / kSectorSize * kSectorSize;
  struct Case {
    const char* what;
    Item item;
    std::uint64_t cut;  // 0: the whole file is there
  };
  std::vector<Case> cases;
  cases.push_back({"garbage after", Item(file, Garbage(9000)), 0});
  cases.push_back({"zeros after, range one sector, limit past the end", Item(file, Zeros(9000), 512, size * 4), 0});
  cases.push_back({"cut one byte short", Item(file, Garbage(9000), core - 1, core - 1), core - 1});
  cases.push_back({"cut in half", Item(file, Garbage(9000), core / 2, core / 2), core / 2});
  if (half > 0) cases.push_back({"medium ends halfway", Item(file.left(half), {}, 0, size * 2), std::uint64_t(half)});
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    const EndFinding f = c.item.Run(s.finder);
    if (c.cut == 0) EXPECT_EQ(f.found() ? f.length : 0, size) << f.why;
    else if (s.may_end_early) EXPECT_LE(f.found() ? f.length : 0, c.cut);
    else EXPECT_FALSE(f.found()) << "length " << f.length;
  }
}

// A hand edit to one sample and the outcome it must give: Found means the
// whole edited file, unless `length` says otherwise.
struct Edit {
  const char* name;
  const char* sample;
  std::function<void(QByteArray&)> edit;
  EndOutcome expect;
  std::function<std::uint64_t(const QByteArray&)> length = nullptr;
};
#define ED(...) [](QByteArray& b) { __VA_ARGS__; }
constexpr auto kFound = EndOutcome::Found, kUnknown = EndOutcome::Unknown, kNotIt = EndOutcome::NotThisFormat;

inline void Expect_Edits(std::span<const Sample> samples, std::span<const Edit> edits) {
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.name);
    const auto s = std::find_if(samples.begin(), samples.end(),
                                [&](const Sample& x) { return x.name == std::string_view(e.sample); });
    ASSERT_NE(s, samples.end());
    Made made = s->make();
    if (!made.skip.isEmpty()) continue;  // the sample's own test says why
    e.edit(made.bytes);
    const EndFinding f = Item(made.bytes, Garbage(65536, 11)).Run(s->finder);
    EXPECT_EQ(f.outcome, e.expect) << f.why;
    const auto whole = static_cast<std::uint64_t>(made.bytes.size());
    EXPECT_EQ(f.found() ? f.length : 0, e.expect != kFound ? 0 : e.length ? e.length(made.bytes) : whole);
  }
}

// A PE32+ image: headers with these characteristics, two sections and (when `signed_image`) a certificate
// table after them.
inline QByteArray Pe(bool signed_image, std::uint16_t characteristics = 0x22) {
  QByteArray opt = Le<2>(0x20B) + Zeros(0xEE);  // alignments, size of headers, directories, certificates
  opt.replace(32, 8, Le<4>(0x1000, 0x200)).replace(60, 4, Le<4>(0x400)).replace(108, 4, Le<4>(16));
  if (signed_image) opt.replace(112 + 4 * 8, 8, Le<4>(0xC00, 0x100));
  QByteArray f = "MZ" + Zeros(0x3A) + Le<4>(0x80) + Zeros(0x40) + "PE" + Le<2>(0, 0x8664, 2) + Le<4>(0, 0, 0) +
                 Le<2>(0xF0, characteristics) + opt;
  for (const auto& [name, at, size] : {std::tuple{".text", 0x400, 0x600}, std::tuple{".data", 0xA00, 0x200}})
    f += QByteArray(name).leftJustified(8, '\0') + Le<4>(0x1000, at * 2, size, at) + Zeros(16);
  f = f.leftJustified(0x400, '\0');
  for (int i = 0x400; i < 0xC00; ++i) f += static_cast<char>(i * 7);
  return {signed_image ? f + Garbage(0x100, 4) : f};
}

}  // namespace tamberlin::recovery::testing
