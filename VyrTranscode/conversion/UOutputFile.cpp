#include "conversion/UOutputFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "conversion/UOutputNames.h"
#include "support/UFileDescriptor.h"
#include "support/UPathParts.h"
#include "support/uFunctionsLib.h"

namespace {

constexpr size_t WriteBufferSize = 256 * 1024;
// Rounds of the work-file creation before giving up on a name that keeps changing under us
// (another converter removing and creating it at the same moment).
constexpr int CreateAttempts = 16;

std::string JoinPath(const std::string& ADir, const std::string& ALeaf) {
  if (ADir == ".") return ALeaf;
  return ADir.back() == '/' ? ADir + ALeaf : ADir + "/" + ALeaf;
}

TFileIdentity IdentityOf(const struct stat& ASt) {
  TFileIdentity id;
  id.Device = static_cast<uint64_t>(ASt.st_dev);
  id.Inode = static_cast<uint64_t>(ASt.st_ino);
  id.Valid = true;
  return id;
}

// The identity of what a name in the folder is itself (a link is not followed).
TFileIdentity EntryIdentity(int ADirFd, const std::string& ALeaf) {
  struct stat st {};
  if (::fstatat(ADirFd, ALeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return TFileIdentity();
  return IdentityOf(st);
}

TFileIdentity DescriptorIdentity(int AFd) {
  struct stat st {};
  if (::fstat(AFd, &st) != 0) return TFileIdentity();
  return IdentityOf(st);
}

// Checks what the final name holds now. Empty text when it may be replaced by a rename
// (nothing there, a regular file or a link, and not the input); else why not.
std::string CheckFinalName(int ADirFd, const std::string& ALeaf, const std::string& AFileName,
                           const TFileIdentity& AInput, bool* AExists) {
  struct stat st {};
  if (::fstatat(ADirFd, ALeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (AExists) *AExists = false;
    if (errno == ENOENT) return std::string();
    return "cannot look at " + AFileName + ": " + std::strerror(errno);
  }
  if (AExists) *AExists = true;
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
    return AFileName + " exists and is not a regular file (a device, a FIFO or a folder)";
  // The input may be reached through a link: compare with what the name leads to.
  struct stat target {};
  if (AInput.Valid && ::fstatat(ADirFd, ALeaf.c_str(), &target, 0) == 0 && IdentityOf(target).SameAs(AInput))
    return AFileName + " is the recording itself";
  return std::string();
}

}  // namespace

std::unique_ptr<TFileWriter> TFileWriter::Create(const std::string& AFileName, const TFileIdentity& AInput,
                                                 std::string* AError) {
  // The caller logs what it wants of a failure.
  auto fail = [&](const std::string& AWhy) -> std::unique_ptr<TFileWriter> {
    if (AError) *AError = AWhy;
    return nullptr;
  };
  const std::string dir = FolderPart(AFileName);
  const std::string leaf = FileNamePart(AFileName);
  if (leaf.empty() || leaf == "." || leaf == "..") return fail("no file name in " + AFileName);
  if (leaf.size() > MaxFileNameBytes) return fail("the name of " + AFileName + " is too long");

  // Everything below and up to the close happens inside this one folder, even if its path
  // changes meanwhile.
  TFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return fail("cannot open the folder " + dir + ": " + std::strerror(errno));
  const int dirFd = folder.Get();

  bool finalExists = false;
  const std::string finalProblem = CheckFinalName(dirFd, leaf, AFileName, AInput, &finalExists);
  if (!finalProblem.empty()) return fail(finalProblem);

  const std::string workLeaf = MakeWorkFileName(leaf);
  const std::string workName = JoinPath(dir, workLeaf);
  for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(attempt));
    // O_EXCL: never opened through whatever is there, a link included.
    int fd = ::openat(dirFd, workLeaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // Between the creation and the lock another converter may have taken the new file for
      // a leftover and removed it: the file is ours only if the name still leads to it once
      // it is locked (whoever removes a work file holds its lock).
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && EntryIdentity(dirFd, workLeaf).SameAs(DescriptorIdentity(fd))) {
        std::unique_ptr<TFileWriter> w(new TFileWriter(fd, dirFd, AFileName, workName, finalExists, AInput));
        folder.Release();  // the writer has it now
        return w;
      }
      ::close(fd);
      continue;
    }
    if (errno != EEXIST) return fail("cannot create " + workName + ": " + std::strerror(errno));

    // Something is under the work name already.
    struct stat st {};
    if (::fstatat(dirFd, workLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    if (S_ISLNK(st.st_mode)) {
      // No converter makes links: one planted here is removed, never followed.
      ::unlinkat(dirFd, workLeaf.c_str(), 0);
      PrintDebugString("Output file: removed the link " + workName);
      continue;
    }
    if (!S_ISREG(st.st_mode)) return fail(workName + " exists and is not a regular file");
    int old = ::openat(dirFd, workLeaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (old < 0) continue;
    if (::flock(old, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(old);
      if (err == EWOULDBLOCK) return fail("another converter is writing " + workName);
      return fail("cannot lock " + workName + ": " + std::strerror(err));
    }
    // Locked and still under the name: a leftover of an earlier run.
    if (EntryIdentity(dirFd, workLeaf).SameAs(DescriptorIdentity(old))) {
      ::unlinkat(dirFd, workLeaf.c_str(), 0);
      PrintDebugString("Output file: removed the leftover " + workName);
    }
    ::close(old);
  }
  return fail("cannot create " + workName + ": the name keeps changing");
}

TFileWriter::TFileWriter(int AFd, int ADirFd, std::string AFileName, std::string AWorkFileName,
                         bool AFinalExisted, const TFileIdentity& AInput)
    : FFd(AFd),
      FDirFd(ADirFd),
      FFileName(std::move(AFileName)),
      FWorkFileName(std::move(AWorkFileName)),
      FInput(AInput),
      FFinalExisted(AFinalExisted),
      FBuffer(WriteBufferSize) {}

TFileWriter::~TFileWriter() {
  Close(TOutputCloseMode::Discard);
  ::close(FDirFd);
}

bool TFileWriter::WriteAll(const void* AData, size_t ACount) {
  const auto* p = static_cast<const uint8_t*>(AData);
  while (ACount > 0) {
    ssize_t n = ::write(FFd, p, ACount);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (!FFailed) FCloseError = std::string("writing ") + FWorkFileName + " failed: " +
                                  std::strerror(n < 0 ? errno : ENOSPC);
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
    if (!FFailed) FCloseError = std::string("writing ") + FWorkFileName + " failed: " + std::strerror(errno);
    FFailed = true;
    return false;
  }
  return true;
}

bool TFileWriter::Close(TOutputCloseMode AMode) {
  if (FClosed) return FCloseResult;
  FClosed = true;
  bool keep = AMode != TOutputCloseMode::Discard;
  if (keep) {
    Flush();
    // The bytes are on the disk before the file takes a name that says it is complete.
    if (!FFailed && ::fsync(FFd) != 0) {
      FCloseError = std::string("writing ") + FWorkFileName + " failed: " + std::strerror(errno);
      FFailed = true;
    }
    keep = !FFailed;
  }
  const bool rename = AMode == TOutputCloseMode::Finish || (AMode == TOutputCloseMode::Stopped && !FFinalExisted);
  FCloseResult = keep && Finish(rename);
  if (!FCloseResult) {
    // Nothing incomplete stays behind. The lock is still held, so the name is still ours.
    const std::string workLeaf = FileNamePart(FWorkFileName);
    if (EntryIdentity(FDirFd, workLeaf).SameAs(DescriptorIdentity(FFd))) ::unlinkat(FDirFd, workLeaf.c_str(), 0);
    FKeptFileName.clear();
  }
  ::close(FFd);  // drops the lock
  FFd = -1;
  if (AMode != TOutputCloseMode::Discard && !FCloseResult && !FCloseError.empty())
    PrintDebugString("Output file: " + FCloseError);
  return FCloseResult;
}

bool TFileWriter::Finish(bool ARename) {
  if (!ARename) {
    FKeptFileName = FWorkFileName;
    return true;
  }
  const std::string leaf = FileNamePart(FFileName);
  const std::string workLeaf = FileNamePart(FWorkFileName);
  // What is under the final name may have changed since the start.
  std::string problem = CheckFinalName(FDirFd, leaf, FFileName, FInput, nullptr);
  if (problem.empty() && ::renameat(FDirFd, workLeaf.c_str(), FDirFd, leaf.c_str()) != 0)
    problem = "cannot rename " + FWorkFileName + " to " + FFileName + ": " + std::strerror(errno);
  if (!problem.empty()) {
    FCloseError = problem;
    return false;
  }
  // The new name is on the disk too. File systems that cannot sync a folder say EINVAL.
  if (::fsync(FDirFd) != 0 && errno != EINVAL && errno != EROFS)
    PrintDebugString("Output file: cannot sync the folder of " + FFileName + ": " + std::strerror(errno));
  FKeptFileName = FFileName;
  return true;
}
