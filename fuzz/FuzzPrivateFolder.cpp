#include "FuzzPrivateFolder.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include <stdlib.h>
#include <unistd.h>

// Never destroyed, so that the removal at exit still has its name.
const std::filesystem::path& FuzzPrivateFolder() {
  static const std::filesystem::path* folder = [] {
    // Memory-backed when the machine has it: every output file is synced when it closes,
    // which costs nothing there and a disk write elsewhere.
    std::error_code ec;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "vyr-fuzz-XXXXXX").string();
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
