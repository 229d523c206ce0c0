// A temporary folder of the fuzz process's own, for targets that must work through files.
#pragma once

#include <filesystem>

// Made at the first call (in /dev/shm where it can be) and removed with its contents when
// the process exits.
const std::filesystem::path& FuzzPrivateFolder();
