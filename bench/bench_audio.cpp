// Audio benchmarks: G.711 decoding in samples per second, and AAC encoding of one hour of
// 8 kHz audio as a multiple of real time, next to FFmpeg's own "aac" encoder (the ffmpeg
// program) on the same PCM at the same bit rate.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "UFfmpegMedia.h"
#include "conversion/UAudioToAAC.h"

namespace {

constexpr int SampleRate = 8000;
constexpr size_t HourSamples = 3600u * SampleRate;
constexpr size_t BlockSamples = 160;  // 20 ms, as recorders write their audio blocks

// One hour of a speech-like signal: a gliding fundamental with harmonics, syllable
// envelope and a little noise, as 16-bit PCM.
// CPU seconds (user and system) of this process, or of its finished children.
double CpuSeconds(int AWho) {
  struct rusage u {};
  ::getrusage(AWho, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Hours encoded per CPU second, i.e. the multiple of real time on an idle core: on a
// machine shared with other work the wall-clock figure drops, this one does not.
void SetCpuRate(benchmark::State& AState, double ACpuSeconds) {
  if (ACpuSeconds > 0)
    AState.counters["xRealTimeCpu"] = 3600.0 * static_cast<double>(AState.iterations()) / ACpuSeconds;
}

const std::vector<int16_t>& HourOfPcm() {
  static const std::vector<int16_t> pcm = [] {
    std::vector<int16_t> s(HourSamples);
    const double pi = 3.14159265358979323846;
    double phase = 0;
    uint32_t noise = 1;
    for (size_t i = 0; i < s.size(); ++i) {
      double t = static_cast<double>(i) / SampleRate;
      double f0 = 170.0 + 60.0 * std::sin(2 * pi * 0.7 * t);
      phase += 2 * pi * f0 / SampleRate;
      double v = 0;
      for (int k = 1; k <= 12; ++k) v += std::sin(k * phase) / k;
      double env = std::fabs(std::sin(pi * std::fmod(t, 0.285) / 0.285));
      noise = noise * 1664525u + 1013904223u;
      double n = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.05;
      s[i] = static_cast<int16_t>(std::lround(std::clamp((v * env + n) * 6000.0, -32000.0, 32000.0)));
    }
    return s;
  }();
  return pcm;
}

std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& ASamples) {
  std::vector<uint8_t> b(ASamples.size() * 2);
  for (size_t i = 0; i < ASamples.size(); ++i) {
    auto v = static_cast<uint16_t>(ASamples[i]);
    b[2 * i] = static_cast<uint8_t>(v);
    b[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return b;
}

// The hour as A-law bytes (each sample's nearest code).
const std::vector<uint8_t>& HourOfALaw() {
  static const std::vector<uint8_t> codes = [] {
    std::vector<std::pair<int32_t, uint8_t>> table;
    for (int c = 0; c < 256; ++c) table.emplace_back(TG711Decoder::alaw2linear(static_cast<uint8_t>(c)), c);
    std::sort(table.begin(), table.end());
    const std::vector<int16_t>& pcm = HourOfPcm();
    std::vector<uint8_t> out(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) {
      auto it = std::lower_bound(table.begin(), table.end(), std::make_pair(int32_t{pcm[i]}, uint8_t{0}));
      if (it == table.end()) --it;
      out[i] = it->second;
    }
    return out;
  }();
  return codes;
}

void BM_G711Decode(benchmark::State& AState) {
  const size_t block = static_cast<size_t>(AState.range(0));
  const std::vector<uint8_t>& codes = HourOfALaw();
  TG711Decoder decoder;
  std::vector<uint8_t> out;
  size_t at = 0;
  for (auto _ : AState) {
    if (at + block > codes.size()) at = 0;
    decoder.G711ToPCM(codes.data() + at, static_cast<int32_t>(block), AUDIO_TYPE_G711A, out);
    benchmark::DoNotOptimize(out.data());
    at += block;
  }
  AState.SetItemsProcessed(static_cast<int64_t>(AState.iterations()) * static_cast<int64_t>(block));
  AState.SetLabel("items = samples");
}
BENCHMARK(BM_G711Decode)->Arg(160)->Arg(65536);

// Encodes the hour in 20 ms blocks of the given type, flush included.
void BM_AacEncodeHour(benchmark::State& AState) {
  const bool g711 = AState.range(0) != 0;
  const std::vector<uint8_t> input = g711 ? HourOfALaw() : PcmBytes(HourOfPcm());
  const size_t blockBytes = g711 ? BlockSamples : BlockSamples * 2;
  int64_t frames = 0;
  const double cpuStart = CpuSeconds(RUSAGE_SELF);
  for (auto _ : AState) {
    TAACMaker maker;
    TAACFrameList list;
    maker.StartAACEncode();
    for (size_t at = 0; at < input.size(); at += blockBytes) {
      maker.EncodeAudio(input.data() + at, static_cast<int32_t>(blockBytes), g711 ? AUDIO_TYPE_G711A : AUDIO_TYPE_PCM,
                        list);
      frames += static_cast<int64_t>(list.Count());
    }
    maker.FlushAudio(list);
    frames += static_cast<int64_t>(list.Count());
  }
  SetCpuRate(AState, CpuSeconds(RUSAGE_SELF) - cpuStart);
  AState.counters["xRealTime"] =
      benchmark::Counter(3600.0 * static_cast<double>(AState.iterations()), benchmark::Counter::kIsRate);
  AState.counters["frames"] = static_cast<double>(frames) / static_cast<double>(AState.iterations());
  AState.SetLabel(g711 ? "A-law blocks" : "PCM blocks");
}
BENCHMARK(BM_AacEncodeHour)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

// Starting the encoder as each file does, first frame and end included: what a batch of
// many short recordings pays per file on top of its audio.
void BM_AacStart(benchmark::State& AState) {
  const std::vector<uint8_t> block(BlockSamples * 2, 0);
  for (auto _ : AState) {
    TAACMaker maker;
    TAACFrameList list;
    maker.StartAACEncode();
    maker.EncodeAudio(block.data(), static_cast<int32_t>(block.size()), AUDIO_TYPE_PCM, list);
    maker.FlushAudio(list);
    benchmark::DoNotOptimize(list.Count());
  }
}
BENCHMARK(BM_AacStart)->Unit(benchmark::kMicrosecond);

// FFmpeg's own encoder on the same hour of PCM, same bit rate, output discarded.
void BM_FfmpegAacHour(benchmark::State& AState) {
  char path[] = "/tmp/vyrbench-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) {
    AState.SkipWithError("cannot create a temporary file");
    return;
  }
  std::vector<uint8_t> bytes = PcmBytes(HourOfPcm());
  bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  const std::vector<std::string> args = {"-nostdin", "-v", "error", "-f", "s16le", "-ar", "8000", "-ac", "1", "-i",
                                         path, "-c:a", "aac", "-b:a", "24k", "-f", "null", "-"};
  const double cpuStart = CpuSeconds(RUSAGE_CHILDREN);
  for (auto _ : AState) {
    if (!written || RunTool("ffmpeg", args).ExitCode != 0) {
      AState.SkipWithError("ffmpeg failed");
      break;
    }
  }
  ::unlink(path);
  SetCpuRate(AState, CpuSeconds(RUSAGE_CHILDREN) - cpuStart);
  AState.counters["xRealTime"] =
      benchmark::Counter(3600.0 * static_cast<double>(AState.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FfmpegAacHour)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
