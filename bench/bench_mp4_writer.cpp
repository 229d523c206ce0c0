// MP4 writing speed: TMP4Maker takes ten minutes of a 1080p H.264 stream at about
// 4 Mbit/s (25 pictures a second, an IDR picture every 2 s), as the conversion worker
// pushes it, and writes the MP4 file. Next to it, dd writes the same number of bytes to
// the same folder. Neither syncs to the disk, so both measure the path into the page
// cache; the writer should reach at least 80% of dd's rate.
//
// The folder is VYR_BENCH_DIR, else the system's temporary folder.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "conversion/UMp4Maker.h"

namespace {

constexpr int FrameRate = 25;
constexpr int Pictures = 10 * 60 * FrameRate;
constexpr int Gop = 50;

std::string BenchDir() {
  const char* dir = std::getenv("VYR_BENCH_DIR");
  return dir && *dir ? dir : std::filesystem::temp_directory_path().string();
}

// A NAL unit with 4-byte start code: header byte, then payload without zero bytes (so no
// start code can appear inside it).
void AppendUnit(std::vector<uint8_t>& AOut, uint8_t AHeader, size_t APayload, std::mt19937& ARng) {
  AOut.insert(AOut.end(), {0, 0, 0, 1, AHeader});
  if (AHeader == 0x65 || AHeader == 0x41) {
    AOut.push_back(0x88);  // first_mb_in_slice = 0: a new picture
    --APayload;
  }
  for (size_t i = 0; i < APayload; ++i) AOut.push_back(static_cast<uint8_t>(1 + ARng() % 255));
}

struct TStream {
  std::vector<uint8_t> Idr;                // SPS, PPS, SEI, IDR slice
  std::vector<std::vector<uint8_t>> Ps;   // P pictures of varying size
  uint64_t Bytes = 0;                      // of the whole ten minutes
};

const TStream& Stream() {
  static const TStream stream = [] {
    TStream s;
    std::mt19937 rng(1080);
    // An SPS of 1920 × 1080 (High profile, 1088 coded rows cropped to 1080) and a PPS.
    const uint8_t sps[] = {0, 0, 0, 1, 0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x40, 0x78, 0x02, 0x27, 0xE5, 0x84};
    const uint8_t pps[] = {0, 0, 0, 1, 0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};
    s.Idr.insert(s.Idr.end(), std::begin(sps), std::end(sps));
    s.Idr.insert(s.Idr.end(), std::begin(pps), std::end(pps));
    AppendUnit(s.Idr, 0x06, 40, rng);
    AppendUnit(s.Idr, 0x65, 150000, rng);
    for (int i = 0; i < 8; ++i) {
      s.Ps.emplace_back();
      AppendUnit(s.Ps.back(), 0x41, 12000 + static_cast<size_t>(i) * 1400, rng);
    }
    for (int i = 0; i < Pictures; ++i) s.Bytes += i % Gop == 0 ? s.Idr.size() : s.Ps[i % 8].size();
    return s;
  }();
  return stream;
}

double WriteWithMaker(const std::string& AFile, bool& AOk) {
  const TStream& s = Stream();
  auto start = std::chrono::steady_clock::now();
  TMP4Maker maker;
  maker.StartWrite(1920, 1080, FrameRate, AFile);
  for (int i = 0; i < Pictures; ++i) {
    const std::vector<uint8_t>& picture = i % Gop == 0 ? s.Idr : s.Ps[i % 8];
    maker.PushVideoX264Frame(picture.data(), static_cast<int32_t>(picture.size()), 0);
  }
  maker.StopWrite();
  auto end = std::chrono::steady_clock::now();
  AOk = maker.IsFileCreated() && !maker.HasWriteError() && maker.GetVideoSampleCount() == Pictures;
  return std::chrono::duration<double>(end - start).count();
}

double WriteWithDd(const std::string& AFile, uint64_t ABytes, bool& AOk) {
  const uint64_t block = 1 << 20;
  std::string of = "of=" + AFile;
  std::string bs = "bs=" + std::to_string(block);
  std::string count = "count=" + std::to_string((ABytes + block - 1) / block);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp("dd", "dd", "if=/dev/zero", of.c_str(), bs.c_str(), count.c_str(), "status=none",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  auto end = std::chrono::steady_clock::now();
  AOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return std::chrono::duration<double>(end - start).count();
}

void BM_Mp4WriterAgainstDd(benchmark::State& AState) {
  const TStream& s = Stream();
  const std::string mp4 = BenchDir() + "/bench_mp4_writer.mp4";
  const std::string raw = BenchDir() + "/bench_mp4_writer.dd";
  double makerSeconds = 0, ddSeconds = 0;
  for (auto _ : AState) {
    bool makerOk = false, ddOk = false;
    double m = WriteWithMaker(mp4, makerOk);
    double d = WriteWithDd(raw, s.Bytes, ddOk);
    std::filesystem::remove(mp4);
    std::filesystem::remove(raw);
    if (!makerOk || !ddOk) {
      AState.SkipWithError(makerOk ? "dd failed" : "the MP4 writer failed");
      return;
    }
    AState.SetIterationTime(m);
    makerSeconds += m;
    ddSeconds += d;
  }
  double megabytes = static_cast<double>(s.Bytes) * static_cast<double>(AState.iterations()) / 1e6;
  AState.SetBytesProcessed(static_cast<int64_t>(s.Bytes) * AState.iterations());
  AState.counters["writer_MBps"] = megabytes / makerSeconds;
  AState.counters["dd_MBps"] = megabytes / ddSeconds;
  AState.counters["writer_pct_of_dd"] = 100.0 * ddSeconds / makerSeconds;
}

}  // namespace

BENCHMARK(BM_Mp4WriterAgainstDd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
