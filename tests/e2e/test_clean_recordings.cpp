// Clean recordings kept in tests/golden convert to exactly what the converter made of them
// before its block reader learnt to skip damage: probe lines, raw streams and MP4 files
// (made one picture after another, with a fixed creation time), compared by SHA-256.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <sstream>

#include "TestSupport.h"

namespace {

const std::string Vyrconvert = std::string(VYR_BIN_DIR) + "/vyrconvert";
const std::string Golden = std::string(VYR_SOURCE_DIR) + "/tests/golden";

std::string Sha256(const std::string& AFile) {
  TProcessResult r = RunProcess({"/usr/bin/sha256sum", "--", AFile});
  return r.Out.substr(0, 64);
}

struct TExpected {
  std::vector<std::pair<std::string, std::string>> Probes;  // file, line
  std::vector<std::pair<std::string, std::string>> Hashes;  // "raw/NAME" or "mp4/NAME", sha256
};

TExpected ReadExpected() {
  TExpected e;
  std::ifstream in(Golden + "/outputs.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string first, second;
    words >> first >> second;
    if (first == "probe") {
      e.Probes.emplace_back(second, line.substr(6 + second.size() + 1));
    } else {
      e.Hashes.emplace_back(first, second);
    }
  }
  return e;
}

}  // namespace

TEST(CleanRecordings, ConvertExactlyAsBefore) {
  const TExpected expected = ReadExpected();
  ASSERT_EQ(expected.Probes.size(), 5u);
  ASSERT_EQ(expected.Hashes.size(), 10u);
  TTempDir dir;
  ::mkdir(dir.File("raw").c_str(), 0755);
  ::mkdir(dir.File("mp4").c_str(), 0755);
  std::vector<std::string> files;
  for (const auto& p : expected.Probes) files.push_back(p.first);

  // Run in the golden folder so that the probe lines carry the bare file names.
  auto run = [&](std::vector<std::string> AArgs) {
    std::vector<std::string> args = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", Golden, Vyrconvert};
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    args.insert(args.end(), files.begin(), files.end());
    return RunProcess(args);
  };
  TProcessResult probe = run({"--probe"});
  EXPECT_EQ(probe.ExitCode, 0) << probe.Err;
  std::string wanted;
  for (const auto& p : expected.Probes) wanted += p.second + "\n";
  EXPECT_EQ(probe.Out, wanted);

  TProcessResult raw = run({"-f", "raw", "-o", dir.File("raw")});
  EXPECT_EQ(raw.ExitCode, 0) << raw.Err;
  TScopedEnv fixedTime("SOURCE_DATE_EPOCH", "1700000000");
  TProcessResult mp4 = run({"-j", "1", "-o", dir.File("mp4")});
  EXPECT_EQ(mp4.ExitCode, 0) << mp4.Err;
  for (const auto& h : expected.Hashes) EXPECT_EQ(Sha256(dir.File(h.first)), h.second) << h.first;
}
