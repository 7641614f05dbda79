// The outputs of list, scan --json and recover --json on every fixture image,
// compared with the ones recorded in tests/cli/golden/. They pin what a user
// sees while the code behind the commands is reorganised: a change of output
// must be deliberate (re-record with AMBREL_GOLDEN_RECORD=1 and review the
// diff).
#include <gtest/gtest.h>
#include <md5.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "support/test_paths.h"

namespace ambrel::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> FixtureNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(SourceDir() + "/fixtures/images")) {
    const std::string file = entry.path().filename().string();
    const std::string suffix = ".img.gz";
    if (file.size() > suffix.size() && file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(file.substr(0, file.size() - suffix.size()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Figures that differ from run to run: seconds and speeds.
std::string WithoutTimings(std::string text) {
  static const std::regex timing(
      R"re("(seconds|readSeconds|writeSeconds|elapsedSeconds|mbPerSecond|speed)"\s*:\s*[-0-9.e+]+)re");
  return std::regex_replace(text, timing, "\"$1\": 0");
}

// Every file written under `out`: relative path, size and md5, sorted.
std::string WrittenFiles(const std::string& out) {
  std::vector<std::string> lines;
  if (!fs::exists(out)) return "";
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file()) continue;
    const std::string rel = fs::relative(entry.path(), out).string();
    const std::string bytes = ReadFileBytes(entry.path().string());
    char md5[MD5_DIGEST_STRING_LENGTH];
    MD5Data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), md5);
    lines.push_back(rel + "\t" + std::to_string(entry.file_size()) + "\t" + md5);
  }
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

struct Golden {
  std::string file;  // under tests/cli/golden/
  std::string actual;
};

void Check(const Golden& g) {
  const std::string path = SourceDir() + "/tests/cli/golden/" + g.file;
  if (std::getenv("AMBREL_GOLDEN_RECORD")) {
    fs::create_directories(fs::path(path).parent_path());
    WriteFileBytes(path, g.actual);
    return;
  }
  ASSERT_TRUE(fs::exists(path)) << path << " was never recorded";
  EXPECT_EQ(ReadFileBytes(path), g.actual) << "output differs from " << path;
}

class GoldenOutputs : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenOutputs, ListScanAndRecoverAsRecorded) {
  const std::string name = GetParam();
  const std::string image = FixtureImage(name);
  ASSERT_FALSE(image.empty());
  auto run = [&](const std::string& args, const std::string& out = "") {
    const CliOutput r = RunAmbrelCli(args);
    std::string text = "status " + std::to_string(r.status) + "\n" + r.out;
    text = ReplaceAll(text, image, "<IMAGE>");
    if (!out.empty()) text = ReplaceAll(text, out, "<OUT>");
    return WithoutTimings(text);
  };
  const std::string q = Quoted(image);
  Check({name + "/list.txt", run("list " + q)});
  Check({name + "/list.json", run("list --json " + q)});
  Check({name + "/scan.json", run("scan --json --reuse no --save no " + q)});
  const std::string out = TempDir("golden-" + name);
  Check({name + "/recover.json", run("recover --json --overwrite yes " + q + " --out " + Quoted(out), out) +
                                     WrittenFiles(out)});
  const std::string carved = TempDir("golden-carved-" + name);
  Check({name + "/recover-mode1.json",
         run("recover --json --mode 1 " + q + " --out " + Quoted(carved), carved) +
             WrittenFiles(carved)});
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, GoldenOutputs, ::testing::ValuesIn(FixtureNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string n = param.param;
                           std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                           return n;
                         });

}  // namespace
}  // namespace ambrel::test
