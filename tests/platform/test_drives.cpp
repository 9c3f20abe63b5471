#include "platform/Drives.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {
const char* SampleMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "23 22 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
    "24 22 0:22 / /sys rw,nosuid shared:2 - sysfs sysfs rw\n"
    "25 22 0:23 / /dev/shm rw - tmpfs tmpfs rw\n"
    "26 22 8:17 / /media/usb\\040stick rw - vfat /dev/sdb1 rw\n"
    "27 22 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
    "28 22 0:50 / /net/share rw - nfs4 server:/export rw\n"
    "29 22 0:24 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
}  // namespace

TEST(Drives, MountsBecomeDrivesOfTheirType) {
  TTempDir sys;
  // 8:17 is a partition of a removable disk.
  std::filesystem::create_directories(sys.File("dev/block/8:17"));
  sys.Write("dev/block/removable", "1\n");
  const auto drives = ParseMountInfo(SampleMountInfo, sys.Path());
  ASSERT_EQ(drives.size(), 5u);  // proc, sysfs and cgroup2 are not drives
  const struct {
    const char* Root;
    TDriveType Type;
    bool ReadOnly;
  } expected[] = {
      {"/", TDriveType::Fixed, false},
      {"/dev/shm", TDriveType::RamDisk, false},
      {"/media/cdrom", TDriveType::CDRom, true},
      {"/media/usb stick", TDriveType::Removable, false},
      {"/net/share", TDriveType::Network, false},
  };
  for (std::size_t i = 0; i < drives.size(); ++i) {
    EXPECT_EQ(drives[i].Root, expected[i].Root);
    EXPECT_EQ(drives[i].Type, expected[i].Type) << drives[i].Root;
    EXPECT_EQ(drives[i].ReadOnly, expected[i].ReadOnly) << drives[i].Root;
  }
}

TEST(Drives, ThePathBelongsToTheDeepestMount) {
  const auto drives = ParseMountInfo(SampleMountInfo, "/nonexistent");
  EXPECT_EQ(DriveOfPath(drives, "/media/cdrom/x/y").Root, "/media/cdrom");
  EXPECT_EQ(DriveOfPath(drives, "/media/cdromx").Root, "/");
  EXPECT_EQ(DriveOfPath(drives, "/dev/shm").Root, "/dev/shm");
  EXPECT_EQ(DriveOfPath(drives, "relative").Root, "");
}

TEST(Drives, TheLiveSystemHasARoot) {
  const auto drives = ListDrives();
  EXPECT_FALSE(DriveOfPath(drives, "/").Root.empty());
}
