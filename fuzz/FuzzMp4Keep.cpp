#include "FuzzMp4Keep.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

const std::string& FuzzKeepFolder() {
  static const std::string folder = [] {
    const char* v = std::getenv("VYR_FUZZ_KEEP_MP4");
    return std::string(v ? v : "");
  }();
  return folder;
}

void KeepFuzzMp4(const std::string& AMp4File, int64_t AVideoSamples, int64_t AAudioSamples, const uint8_t* AData,
                 size_t ASize) {
  const std::string& folder = FuzzKeepFolder();
  std::error_code exists;
  if (folder.empty() || !std::filesystem::exists(AMp4File, exists)) return;  // an empty MP4 is not kept
  static int counter = 0;
  const std::string base = folder + "/" + std::to_string(++counter);
  std::error_code ec;
  std::filesystem::copy_file(AMp4File, base + ".mp4", std::filesystem::copy_options::overwrite_existing, ec);
  std::ofstream(base + ".counts") << AVideoSamples << ' ' << AAudioSamples << '\n';
  std::ofstream in(base + ".in", std::ios::binary);
  in.write(reinterpret_cast<const char*>(AData), static_cast<std::streamsize>(ASize));
}
