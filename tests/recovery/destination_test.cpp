// Destination checks: which devices share storage (a fake /sys tree shaped
// like a USB stick with two partitions and a mapped volume), the real
// folder-on-the-scanned-device refusal, and the plain refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

#include "destination.h"

namespace tamberlin::recovery {
namespace {
namespace fs = std::filesystem;

class FakeSys {
 public:
  FakeSys() {
    Device("8:16", "devices/pci0/usb1/host6/block/sdb");
    Device("8:17", "devices/pci0/usb1/host6/block/sdb/sdb1");
    Device("8:18", "devices/pci0/usb1/host6/block/sdb/sdb2");
    Device("8:0", "devices/pci0/ata1/host0/block/sda");
    Device("253:0", "devices/virtual/block/dm-0");
    Slave("devices/virtual/block/dm-0", "devices/pci0/usb1/host6/block/sdb/sdb1");
  }
  const fs::path& root() const { return root_; }

 private:
  void Device(const std::string& majmin, const std::string& dir) {
    fs::create_directories(root_ / dir);
    fs::create_directories(root_ / "dev/block");
    fs::create_symlink(fs::path("../..") / dir, root_ / "dev/block" / majmin);
  }
  void Slave(const std::string& dir, const std::string& slave) {
    fs::create_directories(root_ / dir / "slaves");
    fs::create_symlink(root_ / slave, root_ / dir / "slaves" / fs::path(slave).filename());
  }
  QTemporaryDir tmp_;
  fs::path root_ = tmp_.path().toStdString();
};

TEST(DestinationTest, DevicesOverlapWhenTheyShareStorage) {
  FakeSys sys;
  const struct {
    dev_t a, b;
    bool overlap;
    const char* why;
  } cases[] = {
      {makedev(8, 17), makedev(8, 17), true, "same partition"},
      {makedev(8, 17), makedev(8, 16), true, "folder on a partition of the scanned disk"},
      {makedev(8, 16), makedev(8, 17), true, "folder on the disk whose partition is scanned"},
      {makedev(8, 18), makedev(8, 17), false, "sibling partition"},
      {makedev(253, 0), makedev(8, 17), true, "mapped volume stacked on the scanned partition"},
      {makedev(253, 0), makedev(8, 16), true, "mapped volume on the scanned disk"},
      {makedev(253, 0), makedev(8, 18), false, "mapped volume on another partition"},
      {makedev(8, 0), makedev(8, 16), false, "another disk"},
      {makedev(9, 9), makedev(8, 16), false, "device sysfs does not know"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(Devices_Overlap(c.a, c.b, sys.root()), c.overlap);
  }
}

TEST(DestinationTest, RefusesAFolderOnTheScannedBlockDevice) {
  QTemporaryDir folder;
  const auto dev = Folder_Device(folder.path().toStdString());
  if (!dev) GTEST_SKIP() << "the temporary folder is on no block device";
  // Find the device node of the temporary folder's file system.
  std::string node;
  for (const auto& e : fs::directory_iterator("/dev")) {
    struct stat st {};
    if (::stat(e.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == *dev) node = e.path();
  }
  if (node.empty()) GTEST_SKIP() << "no /dev node for the temporary folder's device";
  const auto problem = Check_Destination(folder.path().toStdString(), node);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->message, "The destination folder is on the medium being recovered.");
  // A disk image on that same device is another matter: it is never written.
  const std::string image = folder.filePath("stick.img").toStdString();
  std::ofstream(image) << std::string(4096, '\0');
  EXPECT_FALSE(Check_Destination(folder.path().toStdString(), image));
}

TEST(DestinationTest, RefusesMissingFoldersAndFiles) {
  QTemporaryDir folder;
  const std::string file = folder.filePath("not-a-folder").toStdString();
  std::ofstream(file) << "x";
  const struct {
    std::string path;
    const char* message;
  } cases[] = {
      {folder.filePath("missing").toStdString(), "The destination folder does not exist."},
      {file, "The destination is not a folder."},
      {"", "The destination folder does not exist."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto problem = Check_Destination(c.path, file);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->message, c.message);
  }
}

TEST(DestinationTest, SpaceWarningOnlyWhenTheItemsMayNotFit) {
  EXPECT_FALSE(Space_Problem(1000, 1000));
  const auto p = Space_Problem(18'874'368, 5'000'000);
  ASSERT_TRUE(p);
  EXPECT_NE(p->informative.find("18.9 MB"), std::string::npos);
  EXPECT_NE(p->informative.find("5.0 MB"), std::string::npos);
  EXPECT_EQ(Size_Text(999), "999 bytes");
}

}  // namespace
}  // namespace tamberlin::recovery
