#include "conversion/UStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t ReadBufferSize = 64 * 1024;
constexpr size_t SeekReadSize = 4 * 1024;

int64_t ResolveSeek(int64_t AOffset, TSeekOrigin AOrigin, int64_t APosition, int64_t ASize) {
  int64_t base = AOrigin == TSeekOrigin::Begin ? 0 : AOrigin == TSeekOrigin::Current ? APosition : ASize;
  // Saturate instead of overflowing on absurd offsets.
  if (AOffset > 0 && base > INT64_MAX - AOffset) return INT64_MAX;
  int64_t target = base + AOffset;
  return target < 0 ? -1 : target;
}
}  // namespace

// ---- TFileStream -------------------------------------------------------------------

std::unique_ptr<TFileStream> TFileStream::OpenRead(const std::string& AFileName, std::string* AError) {
  auto fail = [AError](const std::string& AWhy) -> std::unique_ptr<TFileStream> {
    if (AError) *AError = AWhy;
    return nullptr;
  };
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
  constexpr const char* NotRegular = "it is not a regular file (a FIFO, a device or a socket)";
  int fd = ::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    // A socket cannot be opened at all; it is refused as the other special files are.
    struct stat st {};
    if (err == ENXIO && ::stat(AFileName.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return fail(NotRegular);
    return fail(std::strerror(err));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return fail(std::strerror(err));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(S_ISDIR(st.st_mode) ? "it is a folder" : NotRegular);
  }
  // Reads of a regular file never wait; the flag is dropped all the same.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  TFileIdentity id;
  id.Device = static_cast<uint64_t>(st.st_dev);
  id.Inode = static_cast<uint64_t>(st.st_ino);
  id.Valid = true;
  return std::unique_ptr<TFileStream>(new TFileStream(fd, static_cast<int64_t>(st.st_size), AFileName, id));
}

TFileStream::TFileStream(int AFd, int64_t ASize, std::string AFileName, TFileIdentity AIdentity)
    : FFd(AFd), FSize(ASize), FFileName(std::move(AFileName)), FBuffer(ReadBufferSize), FIdentity(AIdentity) {}

TFileStream::~TFileStream() { ::close(FFd); }

size_t TFileStream::PRead(int64_t AOffset, void* ABuffer, size_t ACount) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(ABuffer);
  while (done < ACount) {
    ssize_t n = ::pread(FFd, out + done, ACount - done, AOffset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Short of the size taken at the open: the file shrank meanwhile, or cannot be read.
      if (AOffset + static_cast<int64_t>(done) < FSize) FEndedEarly = true;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t TFileStream::Read(void* ABuffer, size_t ACount) {
  auto* out = static_cast<uint8_t*>(ABuffer);
  size_t done = 0;
  while (done < ACount) {
    int64_t pos = FPosition;
    if (pos >= FBufferStart && pos < FBufferStart + static_cast<int64_t>(FBufferLen)) {
      size_t offset = static_cast<size_t>(pos - FBufferStart);
      size_t n = std::min(ACount - done, FBufferLen - offset);
      std::memcpy(out + done, FBuffer.data() + offset, n);
      done += n;
      FPosition += static_cast<int64_t>(n);
      continue;
    }
    size_t want = ACount - done;
    if (want >= FBuffer.size()) {
      // Large reads bypass the buffer.
      size_t n = PRead(pos, out + done, want);
      done += n;
      FPosition += static_cast<int64_t>(n);
      break;
    }
    // After a seek out of the buffer (a walk stepping over a payload) only the next head
    // is wanted: a small read; a stream read straight on gets the whole buffer.
    FBufferStart = pos;
    FBufferLen = PRead(pos, FBuffer.data(), FSeekedAway ? SeekReadSize : FBuffer.size());
    FSeekedAway = false;
    if (FBufferLen == 0) break;
  }
  return done;
}

size_t TFileStream::ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) {
  auto within = [&](int64_t AStart, size_t ALen) {
    return AOffset >= AStart && AOffset + static_cast<int64_t>(ACount) <= AStart + static_cast<int64_t>(ALen);
  };
  if (within(FBufferStart, FBufferLen)) {
    std::memcpy(ABuffer, FBuffer.data() + (AOffset - FBufferStart), ACount);
    return ACount;
  }
  if (within(FAheadStart, FAheadLen)) {
    std::memcpy(ABuffer, FAhead.data() + (AOffset - FAheadStart), ACount);
    return ACount;
  }
  if (ACount >= ReadBufferSize) return PRead(AOffset, ABuffer, ACount);
  if (FAhead.empty()) FAhead.resize(ReadBufferSize);
  // Small steps forward from the last look (heads of small blocks): one read serves many.
  const int64_t aheadEnd = FAheadStart + static_cast<int64_t>(FAheadLen);
  const bool near = AOffset >= aheadEnd && AOffset < aheadEnd + static_cast<int64_t>(ReadBufferSize);
  FAheadStart = AOffset;
  FAheadLen = PRead(AOffset, FAhead.data(), std::max(ACount, near ? ReadBufferSize : SeekReadSize));
  const size_t n = std::min(ACount, FAheadLen);
  std::memcpy(ABuffer, FAhead.data(), n);
  return n;
}

int64_t TFileStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  int64_t target = ResolveSeek(AOffset, AOrigin, FPosition, FSize);
  if (target < 0) return -1;
  // A jump far past the buffer (a large payload stepped over): the next refill is small.
  FSeekedAway = target < FBufferStart ||
                target >= FBufferStart + static_cast<int64_t>(FBufferLen) + static_cast<int64_t>(ReadBufferSize);
  FPosition = target;
  return FPosition;
}

// ---- TMemoryStream -----------------------------------------------------------------

TMemoryStream::TMemoryStream(const void* AData, size_t ASize)
    : FData(static_cast<const uint8_t*>(AData)), FSize(ASize) {}

size_t TMemoryStream::Read(void* ABuffer, size_t ACount) {
  if (FPosition >= static_cast<int64_t>(FSize)) return 0;
  size_t n = std::min(ACount, FSize - static_cast<size_t>(FPosition));
  if (n > 0) std::memcpy(ABuffer, FData + FPosition, n);
  FPosition += static_cast<int64_t>(n);
  return n;
}

int64_t TMemoryStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  int64_t target = ResolveSeek(AOffset, AOrigin, FPosition, static_cast<int64_t>(FSize));
  if (target < 0) return -1;
  FPosition = target;
  return FPosition;
}
