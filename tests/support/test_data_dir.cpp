// Where the programs find their shipped data folders (Language/, Styles/): beside the
// executable as in the build folder, else in ../share/vyrtranscode/ as once installed.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "TestSupport.h"
#include "support/uFunctionsLib.h"

namespace {

enum class TKind { Folder, File, LinkToFolder, DanglingLink };

struct TEntry {
  const char* Path;  // below the tree's root
  TKind Kind;
};

void Make(const std::string& ARoot, const TEntry& AEntry) {
  const std::string path = ARoot + "/" + AEntry.Path;
  // The folders above the entry.
  for (size_t at = path.find('/', ARoot.size() + 1); at != std::string::npos; at = path.find('/', at + 1)) {
    ::mkdir(path.substr(0, at).c_str(), 0755);
  }
  switch (AEntry.Kind) {
    case TKind::Folder:
      ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
      break;
    case TKind::File:
      std::ofstream(path) << "not a folder\n";
      break;
    case TKind::LinkToFolder: {
      const std::string target = ARoot + "/elsewhere";
      ::mkdir(target.c_str(), 0755);
      ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
      break;
    }
    case TKind::DanglingLink:
      ASSERT_EQ(::symlink((ARoot + "/nothing-here").c_str(), path.c_str()), 0) << path;
      break;
  }
}

}  // namespace

TEST(DataDir, BesideTheProgramFirstThenTheSharedFolder) {
  struct Case {
    const char* Name;
    std::vector<TEntry> Tree;
    const char* Folder;
    const char* Expected;  // below the tree's root
  } const cases[] = {
      {"build folder", {{"bin/Language", TKind::Folder}}, "Language", "bin/"},
      {"installed", {{"share/vyrtranscode/Language", TKind::Folder}}, "Language", "share/vyrtranscode/"},
      {"both: beside wins",
       {{"bin/Language", TKind::Folder}, {"share/vyrtranscode/Language", TKind::Folder}},
       "Language",
       "bin/"},
      {"neither: beside the program", {{"bin/other", TKind::Folder}}, "Language", "bin/"},
      {"a file beside is no folder",
       {{"bin/Styles", TKind::File}, {"share/vyrtranscode/Styles", TKind::Folder}},
       "Styles",
       "share/vyrtranscode/"},
      {"a dangling link beside is no folder",
       {{"bin/Styles", TKind::DanglingLink}, {"share/vyrtranscode/Styles", TKind::Folder}},
       "Styles",
       "share/vyrtranscode/"},
      {"a link to a folder beside counts",
       {{"bin/Language", TKind::LinkToFolder}, {"share/vyrtranscode/Language", TKind::Folder}},
       "Language",
       "bin/"},
      {"a file in the shared folder is no folder",
       {{"bin/other", TKind::Folder}, {"share/vyrtranscode/Language", TKind::File}},
       "Language",
       "bin/"},
      {"each folder on its own",
       {{"bin/Language", TKind::Folder}, {"share/vyrtranscode/Styles", TKind::Folder}},
       "Styles",
       "share/vyrtranscode/"},
      {"the shared folder's name is exact",
       {{"bin/other", TKind::Folder}, {"share/VyrTranscode/Language", TKind::Folder}},
       "Language",
       "bin/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir root;
    for (const TEntry& e : c.Tree) Make(root.Path(), e);
    const std::string expected = root.Path() + "/" + c.Expected;
    EXPECT_EQ(GetDataDir(root.Path() + "/bin/", c.Folder), expected);
    // The executable's folder may come without its trailing "/".
    EXPECT_EQ(GetDataDir(root.Path() + "/bin", c.Folder), expected);
  }
}

TEST(DataDir, RelativeProgramFolder) {
  // A program folder that could not be told is "./"; the shared folder is then looked
  // for above the current folder.
  TTempDir root;
  Make(root.Path(), {"bin/x", TKind::Folder});
  Make(root.Path(), {"share/vyrtranscode/Language", TKind::Folder});
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir((root.Path() + "/bin").c_str()), 0);
  const std::string fromBin = GetDataDir("./", "Language");
  ASSERT_EQ(::chdir(root.Path().c_str()), 0);
  const std::string fromRoot = GetDataDir("bin", "Language");
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_EQ(fromBin, "./../share/vyrtranscode/");
  EXPECT_EQ(fromRoot, "./share/vyrtranscode/");
}
