// The destination checks: which devices share storage (a fake /sys tree shaped
// like a USB stick with two partitions and a mapped volume), the real
// folder-on-the-scanned-device refusal, and the plain refusals.
#include "recovery/destination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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
    // Loop devices over two images: loop0 (partitioned, a mapped volume on
    // its first partition) and loop2 read stick.img, loop1 reads other.img.
    std::ofstream(root_ / "stick.img") << "stick";
    std::ofstream(root_ / "other.img") << "other";
    Loop("7:0", "loop0", "backing_file", (root_ / "stick.img").string());
    Device("259:0", "devices/virtual/block/loop0/loop0p1");
    Device("253:1", "devices/virtual/block/dm-1");
    Slave("devices/virtual/block/dm-1", "devices/virtual/block/loop0/loop0p1");
    Loop("7:1", "loop1", "backing_file", (root_ / "other.img").string() + " (deleted)");
    struct stat st {};
    ::stat((root_ / "stick.img").c_str(), &st);
    Loop("7:2", "loop2", "backing_inode", std::to_string(st.st_ino));
    std::ofstream(root_ / "devices/virtual/block/loop2/loop/backing_dev")
        << major(st.st_dev) << ":" << minor(st.st_dev) << "\n";
  }
  const fs::path& root() const { return root_; }

 private:
  void Device(const std::string& majmin, const std::string& dir) {
    fs::create_directories(root_ / dir);
    fs::create_directories(root_ / "dev/block");
    fs::create_symlink(fs::path("../..") / dir, root_ / "dev/block" / majmin);
  }
  void Loop(const std::string& majmin, const std::string& name, const std::string& file, const std::string& text) {
    const std::string dir = "devices/virtual/block/" + name;
    Device(majmin, dir);
    fs::create_directories(root_ / dir / "loop");
    fs::create_directories(root_ / "block");
    fs::create_symlink(fs::path("..") / dir, root_ / "block" / name);
    std::ofstream(root_ / dir / "dev") << majmin << "\n";
    std::ofstream(root_ / dir / "loop" / file) << text << "\n";
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

TEST(DestinationTest, FileBacksTheDevicesStackedOnItsLoopDevice) {
  FakeSys sys;
  const fs::path stick = sys.root() / "stick.img", other = sys.root() / "other.img";
  const struct {
    dev_t device;
    fs::path file;
    bool backs;
    const char* why;
  } cases[] = {
      {makedev(7, 0), stick, true, "the loop device reading the image"},
      {makedev(259, 0), stick, true, "a partition of that loop device"},
      {makedev(253, 1), stick, true, "a mapped volume on that partition"},
      {makedev(7, 2), stick, true, "a loop device telling the image's device and inode"},
      {makedev(7, 1), stick, false, "a loop device reading another image"},
      {makedev(7, 1), other, true, "an image deleted while its loop device reads it"},
      {makedev(7, 0), other, false, "another image"},
      {makedev(8, 16), stick, false, "a disk"},
      {makedev(7, 0), sys.root() / "missing.img", false, "no such file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(File_Backs_Device(c.file, c.device, sys.root()), c.backs);
  }
}

// Runs `command` through the shell; true when it succeeded.
bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

TEST(DestinationTest, RefusesAFolderOnAFileSystemMountedFromTheScannedImage) {
  QTemporaryDir tmp;
  const std::string image = tmp.filePath("stick.img").toStdString();
  const std::string mount = tmp.filePath("mnt").toStdString();
  fs::create_directory(mount);
  // FAT as on a stick; ext2 where the kernel has no FAT driver.
  bool mounted = false;
  for (const char* mkfs : {"mkfs.vfat", "mkfs.ext2 -q -F"}) {
    mounted = Shell("truncate -s 8M '" + image + "' && " + mkfs + " '" + image + "' && mount -o loop '" + image +
                    "' '" + mount + "'");
    if (mounted) break;
  }
  if (!mounted) GTEST_SKIP() << "loop mounts are not permitted here (or no mkfs.vfat / mkfs.ext2)";
  struct Unmount {
    std::string at;
    ~Unmount() { Shell("umount '" + at + "'"); }  // the loop device goes with it (autoclear)
  } unmount{mount};
  const std::string folder = mount + "/recovered";
  ASSERT_TRUE(fs::create_directory(folder));
  const auto problem = Check_Destination(folder, image);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->message, "The destination folder is inside the disk image being recovered.");
  EXPECT_FALSE(Check_Destination(tmp.path().toStdString(), image));  // beside the image is fine
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

TEST(DestinationTest, OnlyThisProgramsUnfinishedFilesFromBeforeTheRunAreRemoved) {
  QTemporaryDir folder;
  const fs::path dir = folder.path().toStdString();
  const auto now = std::chrono::system_clock::now();
  const struct {
    std::string name;
    bool folder;
    int age_seconds;  // negative: changed after the run started
    bool removed;
  } cases[] = {
      {".GND00001.JPG.part.Ab12Cd", false, 3600, true},
      {".a.part.999999", false, 1, true},
      {".GND00002.JPG.part.Ab12Cd", false, -60, false},  // another recovery is writing it
      {"GND00003.JPG.part.Ab12Cd", false, 3600, false},  // no leading dot
      {".GND00004.JPG.part.Ab-12C", false, 3600, false},
      {".part.Ab12Cd", false, 3600, false},              // no name
      {".GND00005.JPG.part.Xy98Zw", true, 3600, false},  // a folder
      {"doubtful-2/.ZIP00001.ZIP.part.Ab12Cd", false, 3600, true},
      {"photos/.GND00006.JPG.part.Ab12Cd", false, 3600, false},  // only the doubtful folders are looked into
  };
  for (const auto& c : cases) {
    const fs::path p = dir / c.name;
    fs::create_directories(p.parent_path());
    if (c.folder) {
      fs::create_directory(p);
    } else {
      std::ofstream(p) << "part";
    }
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(c.age_seconds));
  }
  std::uint64_t expected = 0;
  for (const auto& c : cases) expected += c.removed;
  EXPECT_EQ(Remove_Stale_Parts(dir, now), expected);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fs::exists(dir / c.name), !c.removed);
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
