#include "ui/UHandOver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "support/UFileDescriptor.h"
#include "ui/UWindowMessage.h"

namespace {

constexpr char Magic[4] = {'V', 'Y', 'R', 'H'};
constexpr int RetryIntervalMs = 100;

void PutU32(std::string& AOut, uint32_t AValue) {
  for (int i = 0; i < 4; ++i) AOut.push_back(static_cast<char>((AValue >> (8 * i)) & 0xFF));
}

uint32_t GetU32(std::string_view AData, size_t AAt) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(AData[AAt + i])) << (8 * i);
  return v;
}

bool NameFits(const std::string& AName) {
  return !AName.empty() && AName.size() <= VYR_HANDOVER_MAX_NAME && AName.find('\0') == std::string::npos;
}


// The window's one-byte answer, or 0 when none came within AWaitMs.
char ReadAnswer(int AFd, int AWaitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AWaitMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left < 0) return 0;
    pollfd p{AFd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    char answer = 0;
    const ssize_t n = ::recv(AFd, &answer, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    return n == 1 ? answer : 0;
  }
}

}  // namespace

std::string EncodeHandOver(const std::vector<std::string>& ANames) {
  std::string out(Magic, sizeof Magic);
  PutU32(out, VYR_HANDOVER_VERSION);
  PutU32(out, static_cast<uint32_t>(ANames.size()));
  for (const std::string& name : ANames) {
    PutU32(out, static_cast<uint32_t>(name.size()));
    out += name;
  }
  return out;
}

std::vector<std::vector<std::string>> SplitHandOver(const std::vector<std::string>& ANames,
                                                    std::vector<std::string>* ARefused) {
  std::vector<std::vector<std::string>> groups;
  std::vector<std::string> group;
  size_t size = VYR_HANDOVER_HEAD_BYTES;
  for (const std::string& name : ANames) {
    if (!NameFits(name)) {
      if (ARefused) ARefused->push_back(name);
      continue;
    }
    const size_t need = 4 + name.size();
    if (!group.empty() && size + need > VYR_HANDOVER_MAX_BYTES) {
      groups.push_back(std::move(group));
      group.clear();
      size = VYR_HANDOVER_HEAD_BYTES;
    }
    group.push_back(name);
    size += need;
  }
  if (!group.empty() || groups.empty()) groups.push_back(std::move(group));
  return groups;
}

THandOverDecode DecodeHandOver(std::string_view AData, std::vector<std::string>& ANames) {
  ANames.clear();
  if (AData.empty()) return THandOverDecode::NeedMore;
  // The magic and the version are judged as soon as their bytes are there.
  const size_t magicSeen = std::min(AData.size(), sizeof Magic);
  if (std::memcmp(AData.data(), Magic, magicSeen) != 0) return THandOverDecode::Invalid;
  if (AData.size() < 8) return THandOverDecode::NeedMore;
  if (GetU32(AData, 4) != VYR_HANDOVER_VERSION) return THandOverDecode::UnknownVersion;
  if (AData.size() < VYR_HANDOVER_HEAD_BYTES) return THandOverDecode::NeedMore;
  const uint32_t count = GetU32(AData, 8);
  if (count > (VYR_HANDOVER_MAX_BYTES - VYR_HANDOVER_HEAD_BYTES) / 5) return THandOverDecode::Invalid;
  // First the lengths are checked against the limits, then the names are taken.
  size_t at = VYR_HANDOVER_HEAD_BYTES;
  for (uint32_t i = 0; i < count; ++i) {
    if (AData.size() < at + 4) return at + 4 > VYR_HANDOVER_MAX_BYTES ? THandOverDecode::Invalid : THandOverDecode::NeedMore;
    const uint32_t length = GetU32(AData, at);
    if (length == 0 || length > VYR_HANDOVER_MAX_NAME) return THandOverDecode::Invalid;
    at += 4;
    if (at + length > VYR_HANDOVER_MAX_BYTES) return THandOverDecode::Invalid;
    if (AData.size() < at + length) return THandOverDecode::NeedMore;
    if (std::memchr(AData.data() + at, '\0', length) != nullptr) return THandOverDecode::Invalid;
    at += length;
  }
  at = VYR_HANDOVER_HEAD_BYTES;
  ANames.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t length = GetU32(AData, at);
    ANames.emplace_back(AData.substr(at + 4, length));
    at += 4 + length;
  }
  return THandOverDecode::Complete;
}

THandOverResult HandOverToRunningInstance(const std::vector<std::string>& ANames, int ARetryMs, int AAnswerMs,
                                          std::vector<std::string>* ARefused) {
  std::vector<std::string> refused;
  const std::vector<std::vector<std::string>> groups = SplitHandOver(ANames, &refused);
  if (ARefused) *ARefused = refused;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ARetryMs);
  for (const std::vector<std::string>& group : groups) {
    int fd = -1;
    for (;;) {
      bool noListener = false;
      fd = ConnectUserSocket(VYR_ACTIVATION_NAME, noListener);
      if (fd >= 0) break;
      // Nobody listens yet (or the folder is not there yet): the first instance may still
      // be starting.
      if (std::chrono::steady_clock::now() >= deadline) return THandOverResult::NoInstance;
      std::this_thread::sleep_for(std::chrono::milliseconds(RetryIntervalMs));
    }
    TFd conn(fd);
    const std::string message = EncodeHandOver(group);
    if (!SendAllOnSocket(conn.Get(), message.data(), message.size())) return THandOverResult::Failed;
    const char answer = ReadAnswer(conn.Get(), AAnswerMs);
    if (answer == VYR_HANDOVER_REFUSED) return THandOverResult::Refused;
    if (answer != VYR_HANDOVER_TAKEN) return THandOverResult::Failed;
  }
  return refused.empty() ? THandOverResult::Delivered : THandOverResult::Failed;
}
