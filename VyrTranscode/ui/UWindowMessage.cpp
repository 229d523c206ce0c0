#include "ui/UWindowMessage.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/UFileDescriptor.h"
#include "ui/UUserRuntimeDir.h"

std::array<uint8_t, VYR_MSG_SIZE> EncodeWindowMessage(const TWindowMessage& AMsg) {
  std::array<uint8_t, VYR_MSG_SIZE> b{};
  uint64_t w = static_cast<uint64_t>(AMsg.WParam), l = static_cast<uint64_t>(AMsg.LParam);
  for (int i = 0; i < 8; ++i) {
    b[i] = static_cast<uint8_t>(w >> (8 * i));
    b[8 + i] = static_cast<uint8_t>(l >> (8 * i));
  }
  return b;
}

TWindowMessage DecodeWindowMessage(const uint8_t* ABytes) {
  uint64_t w = 0, l = 0;
  for (int i = 0; i < 8; ++i) {
    w |= static_cast<uint64_t>(ABytes[i]) << (8 * i);
    l |= static_cast<uint64_t>(ABytes[8 + i]) << (8 * i);
  }
  return TWindowMessage{static_cast<int64_t>(w), static_cast<int64_t>(l)};
}

uint32_t RegisterWindowMessageId(const std::string& AName) {
  uint32_t h = 2166136261u;  // FNV-1a over the name
  for (unsigned char c : AName) {
    h ^= c;
    h *= 16777619u;
  }
  return 0xC000u + (h % 0x4000u);
}

bool SendAllOnSocket(int AFd, const void* AData, size_t ASize) {
  const char* data = static_cast<const char*>(AData);
  while (ASize > 0) {
    const ssize_t n = ::send(AFd, data, ASize, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    ASize -= static_cast<size_t>(n);
  }
  return true;
}

int ConnectUserSocket(const std::string& AName, bool& ANoListener) {
  ANoListener = false;
  std::string path = UserRuntimeFile(AName);
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof(addr.sun_path)) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ANoListener = errno == ENOENT || errno == ECONNREFUSED;
    ::close(fd);
    return -1;
  }
  return fd;
}

TSendResult SendWindowMessage(const TWindowMessage& AMsg, int AWaitMs,
                              std::vector<TWindowMessage>& AReplies) {
  AReplies.clear();
  bool noListener = false;
  TFd fd(ConnectUserSocket(VYR_MP4_MSG_NAME, noListener));
  if (fd.Get() < 0) return noListener ? TSendResult::NoInstance : TSendResult::Failed;
  auto bytes = EncodeWindowMessage(AMsg);
  if (!SendAllOnSocket(fd.Get(), bytes.data(), bytes.size())) return TSendResult::Failed;
  // Nothing more to say: the program sees the end of our side once it has read the message.
  ::shutdown(fd.Get(), SHUT_WR);

  std::vector<uint8_t> in;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AWaitMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd.Get(), POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    uint8_t buf[256];
    ssize_t n = ::recv(fd.Get(), buf, sizeof(buf), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the program closed the connection
    in.insert(in.end(), buf, buf + n);
    while (in.size() >= VYR_MSG_SIZE) {
      AReplies.push_back(DecodeWindowMessage(in.data()));
      in.erase(in.begin(), in.begin() + VYR_MSG_SIZE);
    }
  }
  return TSendResult::Sent;
}
