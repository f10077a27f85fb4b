// tamberlin-cli stopped by a signal in the middle of a recovery: no
// unfinished file may stay behind, and the unfinished files an earlier run
// killed outright (SIGKILL) left are removed by the next recovery there.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {
namespace fs = std::filesystem;

constexpr std::uint64_t kItemSectors = 36864;  // a raw item's longest run
constexpr int kItems = 10;

class CliSignalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(::testing::TempDir()) / ("cli_signals_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // Mostly holes: ten items of 18 MB, each behind an Outlook store's magic.
    image = dir / "stick.img";
    std::fstream f(image, std::ios::out | std::ios::binary);
    for (int i = 0; i < kItems; ++i) {
      f.seekp(static_cast<std::streamoff>(i * kItemSectors * 512));
      f << "!BDN";
    }
    f.close();
    fs::resize_file(image, kItems * kItemSectors * 512);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Starts a raw recovery of the image into `folder`; output is dropped,
  // standard error goes to `errors`.
  pid_t Start(const fs::path& folder, const fs::path& errors) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // A bare store header is no store: the items are kept as doubtful ones.
    std::vector<std::string> args = {TAMBERLIN_CLI, "scan",      "--quiet",       "--mode",         "raw",
                                     "--types",     "PST",       "--recover",     folder.string(),  "--keep-doubtful",
                                     image.string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, TAMBERLIN_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
  }
  static std::vector<std::string> Part_Files(const fs::path& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename();
      if (name.find(".part.") != std::string::npos) out.push_back(name);
    }
    return out;
  }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path dir, image;
};

TEST_F(CliSignalsTest, TermAndHangUpDuringARecoveryLeaveNoPartFile) {
  const struct {
    int sig;
    const char* name;
  } cases[] = {{SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = dir / c.name;
    fs::create_directories(folder);
    const pid_t pid = Start(folder, dir / "errors.txt");
    ASSERT_GT(pid, 0);
    // Waits for the first unfinished file, polling every millisecond; the
    // recovery writes 180 MB, so one is there for most of it.
    bool signalled = false;
    int status = 0;
    for (int polls = 0; polls < 600000 && !signalled; ++polls) {
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
      if (!Part_Files(folder).empty()) signalled = ::kill(pid, c.sig) == 0;
      const timespec ms{0, 1000000};
      ::nanosleep(&ms, nullptr);
    }
    if (!signalled) ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(signalled) << "the recovery ended before an unfinished file was seen";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself, not by the stop it asks for";
    EXPECT_EQ(WEXITSTATUS(status), 128 + c.sig);
    EXPECT_EQ(Part_Files(folder), std::vector<std::string>{});
    EXPECT_NE(Slurp(dir / "errors.txt").find("no partial file was left"), std::string::npos);
  }
}

TEST_F(CliSignalsTest, NextRecoveryRemovesTheUnfinishedFilesOfAKilledOne) {
  const fs::path folder = dir / "out";
  fs::create_directories(folder);
  // As a SIGKILL leaves them: an unfinished copy, an hour old.
  const fs::path stale = folder / ".PST00001.PST.part.Qx3k9Z";
  std::ofstream(stale) << std::string(4096, 'p');
  const timespec hour_ago[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), hour_ago, 0), 0);
  const fs::path errors = dir / "errors.txt";
  const pid_t pid = Start(folder, errors);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(errors);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_EQ(Part_Files(folder), std::vector<std::string>{});
  EXPECT_NE(Slurp(errors).find("Removed 1 unfinished files left in " + folder.string()), std::string::npos)
      << Slurp(errors);
}

}  // namespace
