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
constexpr size_t WriteBufferSize = 256 * 1024;

int64_t ResolveSeek(int64_t AOffset, TSeekOrigin AOrigin, int64_t APosition, int64_t ASize) {
  int64_t base = AOrigin == TSeekOrigin::Begin ? 0 : AOrigin == TSeekOrigin::Current ? APosition : ASize;
  // Saturate instead of overflowing on absurd offsets.
  if (AOffset > 0 && base > INT64_MAX - AOffset) return INT64_MAX;
  int64_t target = base + AOffset;
  return target < 0 ? -1 : target;
}
}  // namespace

// ---- TFileStream -------------------------------------------------------------------

std::unique_ptr<TFileStream> TFileStream::OpenRead(const std::string& AFileName) {
  int fd = ::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<TFileStream>(new TFileStream(fd, static_cast<int64_t>(st.st_size), AFileName));
}

TFileStream::TFileStream(int AFd, int64_t ASize, std::string AFileName)
    : FFd(AFd), FSize(ASize), FFileName(std::move(AFileName)), FBuffer(ReadBufferSize) {}

TFileStream::~TFileStream() { ::close(FFd); }

size_t TFileStream::ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(ABuffer);
  while (done < ACount) {
    ssize_t n = ::pread(FFd, out + done, ACount - done, AOffset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
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
      size_t n = ReadAt(pos, out + done, want);
      done += n;
      FPosition += static_cast<int64_t>(n);
      break;
    }
    // After a seek out of the buffer (a walk stepping over a payload) only the next head
    // is wanted: a small read; a stream read straight on gets the whole buffer.
    FBufferStart = pos;
    FBufferLen = ReadAt(pos, FBuffer.data(), FSeekedAway ? SeekReadSize : FBuffer.size());
    FSeekedAway = false;
    if (FBufferLen == 0) break;
  }
  return done;
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

// ---- TFileWriter -------------------------------------------------------------------

std::unique_ptr<TFileWriter> TFileWriter::Create(const std::string& AFileName) {
  if (AFileName.empty()) return nullptr;
  struct stat st {};
  bool special = ::stat(AFileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
  if (special && S_ISDIR(st.st_mode)) return nullptr;
  std::string work = special ? AFileName : AFileName + PartSuffix;
  int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::unique_ptr<TFileWriter>(new TFileWriter(fd, AFileName, work));
}

TFileWriter::TFileWriter(int AFd, std::string AFileName, std::string AWorkFileName)
    : FFd(AFd), FFileName(std::move(AFileName)), FWorkFileName(std::move(AWorkFileName)), FBuffer(WriteBufferSize) {}

TFileWriter::~TFileWriter() { Close(); }

bool TFileWriter::WriteAll(const void* AData, size_t ACount) {
  const auto* p = static_cast<const uint8_t*>(AData);
  while (ACount > 0) {
    ssize_t n = ::write(FFd, p, ACount);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FFailed = true;
      return false;
    }
    p += n;
    ACount -= static_cast<size_t>(n);
  }
  return true;
}

bool TFileWriter::Flush() {
  if (FBufferLen == 0) return !FFailed;
  bool ok = WriteAll(FBuffer.data(), FBufferLen);
  FBufferLen = 0;
  return ok;
}

bool TFileWriter::Write(const void* AData, size_t ACount) {
  if (FFd < 0) {
    FFailed = true;
    return false;
  }
  FPosition += static_cast<int64_t>(ACount);
  if (FBufferLen + ACount <= FBuffer.size()) {
    std::memcpy(FBuffer.data() + FBufferLen, AData, ACount);
    FBufferLen += ACount;
    return !FFailed;
  }
  if (!Flush()) return false;
  if (ACount >= FBuffer.size()) return WriteAll(AData, ACount);
  std::memcpy(FBuffer.data(), AData, ACount);
  FBufferLen = ACount;
  return !FFailed;
}

bool TFileWriter::WriteAt(int64_t AOffset, const void* AData, size_t ACount) {
  if (FFd < 0 || AOffset < 0 || AOffset + static_cast<int64_t>(ACount) > FPosition) {
    FFailed = true;
    return false;
  }
  if (!Flush()) return false;
  const auto* p = static_cast<const uint8_t*>(AData);
  size_t done = 0;
  while (done < ACount) {
    ssize_t n = ::pwrite(FFd, p + done, ACount - done, AOffset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FFailed = true;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool TFileWriter::CopyFrom(TStream& ASource, uint64_t ACount, uint64_t* ACopied) {
  // Reads straight into the free part of the write buffer: no allocation, one copy.
  uint64_t copied = 0;
  while (copied < ACount && FFd >= 0) {
    if (FBufferLen == FBuffer.size() && !Flush()) break;
    size_t room = FBuffer.size() - FBufferLen;
    size_t want = static_cast<size_t>(std::min<uint64_t>(ACount - copied, room));
    size_t got = ASource.Read(FBuffer.data() + FBufferLen, want);
    FBufferLen += got;
    FPosition += static_cast<int64_t>(got);
    copied += got;
    if (got < want) break;
  }
  if (FFd < 0) FFailed = true;
  if (ACopied) *ACopied = copied;
  return !FFailed && copied == ACount;
}

bool TFileWriter::Skip(uint64_t ACount) {
  if (FFd < 0 || ACount > static_cast<uint64_t>(INT64_MAX - FPosition)) {
    FFailed = true;
    return false;
  }
  if (!Flush()) return false;
  FPosition += static_cast<int64_t>(ACount);
  if (::ftruncate(FFd, FPosition) != 0 || ::lseek(FFd, FPosition, SEEK_SET) < 0) {
    FFailed = true;
    return false;
  }
  return true;
}

bool TFileWriter::Close() {
  if (FFd < 0) return !FFailed;
  Flush();
  if (::close(FFd) != 0) FFailed = true;
  FFd = -1;
  if (!FFailed && FWorkFileName != FFileName && ::rename(FWorkFileName.c_str(), FFileName.c_str()) != 0)
    FFailed = true;
  return !FFailed;
}
