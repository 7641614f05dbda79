// Images in container formats, made from a fixture by the real tools
// (ewfacquire, qemu-img): the opener reads the media inside them, so the
// description, the listing and the recovered files equal the raw image's;
// damaged containers are refused with a reason.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "device/device_enum.h"
#include "device/device_opener.h"
#include "device/memory_device.h"
#include "fs/boot_probe.h"
#include "support/test_paths.h"

namespace ambrel {
namespace {

namespace fs = std::filesystem;

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

struct Container {
  const char* name;    // as the device reports it
  const char* tool;
  const char* file;
  const char* command;  // %s = raw image, %o = output path
};

const Container kContainers[] = {
    {"E01", "ewfacquire", "disk.E01", "ewfacquire -u -q -t %o -f encase6 -c fast -S 100M %s"},
    {"VHD", "qemu-img", "disk.vhd", "qemu-img convert -O vpc %s %o"},
    {"VHDX", "qemu-img", "disk.vhdx", "qemu-img convert -O vhdx %s %o"},
    {"VMDK", "qemu-img", "disk.vmdk", "qemu-img convert -O vmdk %s %o"},
    // A fixed VHD is the plain disk with a footer after it: its first
    // sector is the disk's own.
    {"VHD", "qemu-img", "disk-fixed.vhd", "qemu-img convert -O vpc -o subformat=fixed %s %o"},
    {"VMDK", "qemu-img", "disk-flat.vmdk", "qemu-img convert -O vmdk -o subformat=monolithicFlat %s %o"},
};

std::string Expand(std::string pattern, const std::string& raw, const std::string& out) {
  for (std::size_t at; (at = pattern.find("%s")) != std::string::npos;) pattern.replace(at, 2, raw);
  for (std::size_t at; (at = pattern.find("%o")) != std::string::npos;) pattern.replace(at, 2, out);
  return pattern;
}

// ewfacquire names its output target.E01 from the target without suffix.
std::string MakeContainer(const Container& c, const std::string& raw, const std::string& dir) {
  std::string out = dir + "/" + c.file;
  std::string target = std::string(c.name) == "E01" ? dir + "/disk" : out;
  if (Shell(Expand(c.command, raw, target) + " >/dev/null 2>&1") != 0) return {};
  return fs::exists(out) ? out : std::string{};
}

std::string Cli(const std::string& args, const std::string& home) {
  const std::string out = home + "/out.txt";
  Shell("AMBREL_ALLOW_SECOND_INSTANCE=1 " + test::BinaryDir() + "/cli/ambrel-cli --home '" + home +
      "' " + args + " >'" + out + "' 2>/dev/null");
  std::ifstream in(out);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Without(std::string text, const std::string& word) {
  for (std::size_t at; (at = text.find(word)) != std::string::npos;) text.erase(at, word.size());
  return text;
}

std::map<std::string, std::uintmax_t> Tree(const fs::path& root) {
  std::map<std::string, std::uintmax_t> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = e.file_size();
  return files;
}

TEST(ContainerImages, ReadLikeTheRawImage) {
  const std::string raw = test::FixtureImage("disk-mbr-default");
  ASSERT_FALSE(raw.empty());
  DiskDescription expected;
  ASSERT_TRUE(DescribeDisk(raw, expected, JudgeSector));
  EXPECT_EQ(expected.container, "raw");
  const std::string home = test::TempDir("containers-home");
  const std::string rawList = Without(Cli("list '" + raw + "'", home), raw);
  const int made = [&] {
    int n = 0;
    for (const Container& c : kContainers) n += HaveTool(c.tool);
    return n;
  }();
  if (made == 0) GTEST_SKIP() << "neither ewfacquire nor qemu-img is installed";
  for (const Container& c : kContainers) {
    if (!HaveTool(c.tool)) continue;
    const std::string dir = test::TempDir(std::string("container-") + c.file);
    const std::string image = MakeContainer(c, raw, dir);
    ASSERT_FALSE(image.empty()) << c.name;
    DiskDescription d;
    std::string why;
    ASSERT_TRUE(DescribeDisk(image, d, JudgeSector, &why)) << c.name << ": " << why;
    EXPECT_EQ(d.container, c.name);
    EXPECT_GE(d.disk.sectorCount, expected.disk.sectorCount) << c.name;
    EXPECT_EQ(d.tableKind, expected.tableKind) << c.name;
    ASSERT_EQ(d.volumes.size(), expected.volumes.size()) << c.name;
    for (std::size_t i = 0; i < d.volumes.size(); ++i) {
      EXPECT_EQ(d.volumes[i].startLba, expected.volumes[i].startLba) << c.name;
      EXPECT_EQ(d.volumes[i].sectorCount, expected.volumes[i].sectorCount) << c.name;
      EXPECT_EQ(d.volumes[i].fsKind, expected.volumes[i].fsKind) << c.name;
    }
    EXPECT_EQ(Without(Cli("list '" + image + "'", home), image), rawList) << c.name;
  }
}

TEST(ContainerImages, RecoverFromE01EqualsRaw) {
  if (!HaveTool("ewfacquire")) GTEST_SKIP() << "ewfacquire (ewf-tools) is not installed";
  const std::string raw = test::FixtureImage("disk-mbr-default");
  const std::string dir = test::TempDir("container-recover");
  const std::string image = MakeContainer(kContainers[0], raw, dir);
  ASSERT_FALSE(image.empty());
  const std::string home = test::TempDir("container-recover-home");
  const std::string out = "/dev/shm/ambrel-container-recover-" + std::to_string(::getpid());
  fs::remove_all(out);
  fs::create_directories(out + "/from-raw");
  fs::create_directories(out + "/from-e01");
  Cli("recover '" + raw + "' --out '" + out + "/from-raw'", home);
  Cli("recover '" + image + "' --out '" + out + "/from-e01'", home);
  ASSERT_TRUE(fs::exists(out + "/from-raw") && fs::exists(out + "/from-e01"));
  const auto fromRaw = Tree(out + "/from-raw"), fromE01 = Tree(out + "/from-e01");
  EXPECT_GT(fromRaw.size(), 20u);
  EXPECT_EQ(fromE01.size(), fromRaw.size());
  for (const auto& [path, size] : fromRaw) {
    const std::string a = out + "/from-raw/" + path;
    std::string b = a;
    b.replace(b.find("from-raw"), 8, "from-e01");
    EXPECT_EQ(Shell("cmp -s '" + a + "' '" + b + "'"), 0) << path;
  }
  fs::remove_all(out);
}

TEST(ContainerImages, DamagedContainersAreRefusedWithAReason) {
  if (!HaveTool("ewfacquire") || !HaveTool("qemu-img")) GTEST_SKIP() << "ewf-tools or qemu-utils missing";
  const std::string raw = test::FixtureImage("disk-mbr-default");
  const std::string dir = test::TempDir("container-damaged");
  for (const Container& c : {kContainers[0], kContainers[2]}) {
    const std::string image = MakeContainer(c, raw, dir);
    ASSERT_FALSE(image.empty());
    const std::string cut = image + ".cut";
    fs::copy_file(image, cut);
    fs::resize_file(cut, std::string(c.name) == "E01" ? 100000 : 3000000);
    const std::string named = dir + "/cut-" + c.file;
    fs::rename(cut, named);
    DiskHandle handle;
    std::string why;
    EXPECT_FALSE(OpenByPath(named, handle, &why)) << c.name;
    EXPECT_NE(why.find("damaged or incomplete"), std::string::npos) << c.name << ": " << why;
  }
}

// Tests put their own devices behind paths through the opener.
class MemoryOpener final : public DeviceOpener {
 public:
  explicit MemoryOpener(std::shared_ptr<BlockDevice> device) : device_(std::move(device)) {}
  std::shared_ptr<BlockDevice> Open(const std::string& path, std::string* why) override {
    if (path == "mem:disk") return device_;
    if (why) *why = "no such file";
    return nullptr;
  }

 private:
  std::shared_ptr<BlockDevice> device_;
};

TEST(DeviceOpener, SubstitutedOpenerServesEveryOpenByPath) {
  std::ifstream in(test::FixtureImage("fat16-default"), std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  auto memory = std::make_shared<MemoryDevice>(bytes, "mem:disk");
  auto previous = SubstituteDeviceOpener(std::make_shared<MemoryOpener>(memory));
  DiskDescription d;
  EXPECT_TRUE(DescribeDisk("mem:disk", d, JudgeSector));
  ASSERT_EQ(d.volumes.size(), 1u);
  EXPECT_EQ(d.volumes[0].fsKind, kFsFat16);
  std::string why;
  DiskHandle h;
  EXPECT_FALSE(OpenByPath("/etc/passwd", h, &why));
  SubstituteDeviceOpener(previous);
  EXPECT_TRUE(OpenByPath(test::FixtureImage("fat16-default"), h));
}

}  // namespace
}  // namespace ambrel
