// The --out folder of ambrel-cli recover: made when missing, allowed beside
// the image it recovers from, refused (before anything is written) when it
// is a file, cannot be written, or lies on the device being recovered.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "cli/cli_run.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOnSourceText = "您选择的恢复文件保存目录在您需要恢复数据的分区里，请选择其他分区里的目录!";

std::size_t FilesBelow(const std::string& folder) {
  std::size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file();
  return n;
}

class CliRecoverTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BinaryDir() + "/cli/ambrel-cli")) GTEST_SKIP() << "ambrel-cli not built";
    // A private copy, readable by everyone, in a folder of its own.
    dir_ = TempDir("cli-target-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    image_ = dir_ + "/fat16.img";
    ASSERT_TRUE(CopyImage(FixtureImage("fat16-basic"), image_));
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  }
  std::string dir_, image_;
};

TEST_F(CliRecoverTarget, MissingFolderIsMadeWithItsParents) {
  const std::string out = dir_ + "/new/deeper/out";
  // The live files: every one of them is whole (three deleted ones are
  // overwritten, which makes the status 1).
  const CliOutput r = RunAmbrelCli("recover " + Quoted(image_) + " --present --out " + Quoted(out) + " --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_directory(out + "/AmbrelRecovered"));
  EXPECT_GT(FilesBelow(out), 10u);
  EXPECT_NE(r.out.find("\"completed\":true"), std::string::npos) << r.out;
}

TEST_F(CliRecoverTarget, FolderBesideTheImageIsAllowedAndTheImageStaysAsItWas) {
  const std::string before = ReadFileBytes(image_);
  struct stat st {};
  ASSERT_EQ(::stat(image_.c_str(), &st), 0);
  const CliOutput r = RunAmbrelCli("recover " + Quoted(image_) + " --present --out " + Quoted(dir_));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("请选择其他分区里的目录"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("恢复结束！"), std::string::npos) << r.out;
  EXPECT_GT(FilesBelow(dir_ + "/AmbrelRecovered"), 10u);
  struct stat after {};
  ASSERT_EQ(::stat(image_.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, st.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, st.st_mtim.tv_nsec);
  EXPECT_TRUE(ReadFileBytes(image_) == before);
}

TEST_F(CliRecoverTarget, FileInsteadOfAFolderIsNamed) {
  const std::string file = dir_ + "/plain.txt";
  WriteFileBytes(file, "keep me");
  for (const std::string& out : {file, file + "/below"}) {
    const CliOutput r = RunAmbrelCli("recover " + Quoted(image_) + " --out " + Quoted(out));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("--out " + out + ": not a folder"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_EQ(ReadFileBytes(file), "keep me");
}

TEST_F(CliRecoverTarget, UnwritableFolderIsNamed) {
  // Root writes everywhere: run the program as "nobody" then.
  std::string asUser;
  if (::geteuid() == 0) {
    if (!HaveTool("setpriv")) GTEST_SKIP() << "setpriv missing";
    asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  }
  const std::string locked = dir_ + "/locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                              fs::perms::others_exec | fs::perms::group_read | fs::perms::group_exec);
  for (const std::string& out : {locked, locked + "/inside"}) {
    const CliOutput r = RunAmbrelCli("recover " + Quoted(image_) + " --out " + Quoted(out), asUser);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("--out " + out + ": permission denied"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(locked));
}

TEST_F(CliRecoverTarget, VolumeNumberTheImageDoesNotHave) {
  const std::string out = dir_ + "/never";
  const CliOutput r = RunAmbrelCli("recover " + Quoted(image_) + " --partition 99 --out " + Quoted(out));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no volume 99 (the image has 1)"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out)) << "nothing is made before the checks pass";
}

// A loop device holding a mounted file system: recovering from the device
// into a folder on it is refused before the folder is made.
class LoopMount {
 public:
  explicit LoopMount(const std::string& dir) : mountPoint_(dir + "/mnt") {
    const std::string image = dir + "/ext4.img";
    fs::create_directory(mountPoint_);
    if (!Shell("truncate -s 32M " + Quoted(image) + " && mkfs.ext4 -q " + Quoted(image) + " 2>/dev/null")) return;
    const std::string deviceFile = dir + "/loop-device";
    if (!Shell("losetup -f --show " + Quoted(image) + " >" + Quoted(deviceFile) + " 2>/dev/null")) return;
    device_ = ReadFileBytes(deviceFile);
    while (!device_.empty() && device_.back() == '\n') device_.pop_back();
    mounted_ = Shell("mount " + Quoted(device_) + " " + Quoted(mountPoint_) + " 2>/dev/null");
  }
  ~LoopMount() {
    if (mounted_) Shell("umount " + Quoted(mountPoint_));
    if (!device_.empty()) Shell("losetup -d " + Quoted(device_));
  }
  bool ready() const { return mounted_; }
  const std::string& device() const { return device_; }
  const std::string& mountPoint() const { return mountPoint_; }

 private:
  std::string mountPoint_, device_;
  bool mounted_ = false;
};

TEST_F(CliRecoverTarget, FolderOnTheSourceDeviceIsRefused) {
  if (::geteuid() != 0 || !HaveTool("losetup") || !HaveTool("mkfs.ext4"))
    GTEST_SKIP() << "needs root, losetup and mkfs.ext4";
  LoopMount loop(dir_);
  if (!loop.ready()) GTEST_SKIP() << "no loop device could be mounted here";
  for (const std::string& out : {loop.mountPoint(), loop.mountPoint() + "/new/folder"}) {
    const CliOutput r = RunAmbrelCli("recover " + Quoted(loop.device()) + " --out " + Quoted(out) + " --json");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(kOnSourceText), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(kOnSourceText), std::string::npos) << "the JSON report names it too: " << r.out;
  }
  EXPECT_FALSE(fs::exists(loop.mountPoint() + "/new")) << "nothing was written to the source";
}

}  // namespace
}  // namespace ambrel::test
