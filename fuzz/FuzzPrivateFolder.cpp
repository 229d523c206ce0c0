#include "FuzzPrivateFolder.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include <stdlib.h>

// Never destroyed, so that the removal at exit still has its name.
const std::filesystem::path& FuzzPrivateFolder() {
  static const std::filesystem::path* folder = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vyr-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    auto* made = new std::filesystem::path(tmpl);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(FuzzPrivateFolder(), ec);
    });
    return made;
  }();
  return *folder;
}
