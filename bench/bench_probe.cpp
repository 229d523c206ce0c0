// Probe time per block for the same number of blocks with small and large payloads: the
// probe reads heads only and seeks over payloads, so the time per block should not grow
// with the payload size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "UVyrRecordBuilder.h"
#include "conversion/URecordProbe.h"

namespace {

std::string MakeRecording(size_t APayload, int ABlocks) {
  std::string path = "/tmp/bench_probe_" + std::to_string(APayload) + ".vyr";
  FILE* f = std::fopen(path.c_str(), "wb");
  std::vector<uint8_t> payload = PatternBytes(APayload, 1);
  for (int i = 0; i < ABlocks; ++i) {
    TVyrRecordBuilder b;
    TVideoBlockSpec v;
    v.FrameID = static_cast<uint32_t>(i + 1);
    v.SecTimeStamp = static_cast<uint32_t>(1000 + i / 25);
    b.AddVideo(v, payload);
    std::fwrite(b.Bytes().data(), 1, b.Size(), f);
  }
  std::fclose(f);
  return path;
}

void BM_ProbePerBlock(benchmark::State& AState) {
  const size_t payload = static_cast<size_t>(AState.range(0));
  const int blocks = 500;
  std::string path = MakeRecording(payload, blocks);
  for (auto _ : AState) {
    std::unique_ptr<TStream> s = TVyrRecordProbe::OpenVYRRecord(path);
    TVyrRecordProbe probe;
    probe.GetVideoInfo(s.get());
    benchmark::DoNotOptimize(probe.FFrameRate);
  }
  AState.counters["ns_per_block"] = benchmark::Counter(
      static_cast<double>(AState.iterations()) * blocks, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  ::unlink(path.c_str());
}

}  // namespace

BENCHMARK(BM_ProbePerBlock)->Arg(1024)->Arg(1024 * 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
