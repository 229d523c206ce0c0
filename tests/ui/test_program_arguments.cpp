// The desktop program's command line: files (made absolute, bytes kept), --help,
// --version, "--", the toolkit's own options, and mistakes.
#include <gtest/gtest.h>

#include "ui/UProgramArguments.h"

namespace {

TProgramArguments Parse(std::vector<std::string> AArgs, const std::string& ACwd = "/home/u/rec") {
  std::vector<const char*> argv = {"VyrTranscode"};
  for (const std::string& a : AArgs) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return ParseProgramArguments(static_cast<int>(argv.size() - 1), argv.data(), ACwd);
}

}  // namespace

TEST(ProgramArguments, Files) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Args;
    std::string Cwd;
    std::vector<std::string> Files;
  };
  const TCase cases[] = {
      {"none", {}, "/home/u", {}},
      {"absolute names stay", {"/a/b.vyr", "/c.vyr"}, "/home/u", {"/a/b.vyr", "/c.vyr"}},
      {"relative names are made absolute", {"b.vyr", "../x/c.vyr"}, "/home/u", {"/home/u/b.vyr", "/home/u/../x/c.vyr"}},
      {"the root as current folder", {"b.vyr"}, "/", {"/b.vyr"}},
      {"bytes are kept", {"\xff\xfe cam\n1.vyr"}, "/r", {"/r/\xff\xfe cam\n1.vyr"}},
      {"after --, a name may start with -", {"--", "-cam.vyr", "--help"}, "/r", {"/r/-cam.vyr", "/r/--help"}},
      {"a single - is a name", {"-"}, "/r", {"/r/-"}},
      {"empty arguments are passed over", {"", "a.vyr"}, "/r", {"/r/a.vyr"}},
      {"toolkit options are left to the toolkit",
       {"-platform", "offscreen", "a.vyr", "-style=fusion", "-reverse", "-display", ":1", "b.vyr"},
       "/r",
       {"/r/a.vyr", "/r/b.vyr"}},
  };
  for (const TCase& c : cases) {
    const TProgramArguments r = Parse(c.Args, c.Cwd);
    EXPECT_EQ(r.Action, TProgramAction::Run) << c.Name << ": " << r.Error;
    EXPECT_EQ(r.Files, c.Files) << c.Name;
  }
}

TEST(ProgramArguments, HelpVersionAndMistakes) {
  EXPECT_EQ(Parse({"--help"}).Action, TProgramAction::Help);
  EXPECT_EQ(Parse({"a.vyr", "-h"}).Action, TProgramAction::Help);
  EXPECT_EQ(Parse({"--version"}).Action, TProgramAction::Version);
  EXPECT_EQ(ProgramVersionText(), "VyrTranscode " VYR_TEST_PROJECT_VERSION);
  EXPECT_NE(ProgramUsage().find("Usage: VyrTranscode"), std::string::npos);

  const TProgramArguments unknown = Parse({"a.vyr", "--frobnicate"});
  EXPECT_EQ(unknown.Action, TProgramAction::Error);
  EXPECT_NE(unknown.Error.find("--frobnicate"), std::string::npos);
  const TProgramArguments noValue = Parse({"-platform"});
  EXPECT_EQ(noValue.Action, TProgramAction::Error);
  // Without a current folder a relative name cannot be found; an absolute one can.
  EXPECT_EQ(Parse({"a.vyr"}, "").Action, TProgramAction::Error);
  EXPECT_EQ(Parse({"/a.vyr"}, "").Files, std::vector<std::string>{"/a.vyr"});
}
