// Read streams of the conversion core: a seekable stream over a record file or over memory
// (the walks of the probe, the raw export and the conversion worker take either, so they
// can be fed from memory). Output files are in UOutputFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class TSeekOrigin { Begin, Current, End };

// Which file a name or an open descriptor leads to (device and inode).
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  bool Valid = false;
  bool SameAs(const TFileIdentity& AOther) const {
    return Valid && AOther.Valid && Device == AOther.Device && Inode == AOther.Inode;
  }
};

// A readable, seekable stream with 64-bit positions. A seek past the end is allowed;
// reads there return 0 bytes.
class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to ACount bytes; returns how many came (0 at the end or on a read error).
  virtual size_t Read(void* ABuffer, size_t ACount) = 0;
  // Moves the position; returns the new position, or -1 when it would be negative.
  virtual int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) = 0;
  virtual int64_t Position() const = 0;
  virtual int64_t Size() const = 0;
  // Reads up to ACount bytes at AOffset; returns how many came. Streams that can leave the
  // position where it is (and their buffer as it is) do; others seek.
  virtual size_t ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) {
    if (Seek(AOffset, TSeekOrigin::Begin) != AOffset) return 0;
    return Read(ABuffer, ACount);
  }
  // The file behind the stream; not valid for a stream over memory.
  virtual TFileIdentity Identity() const { return TFileIdentity(); }
  // The stream held fewer bytes than its size promised: a file that shrank while it was
  // read, or a read error.
  virtual bool EndedEarly() const { return false; }
};

// A record file opened for reading. Other processes may go on reading and writing the
// file meanwhile. Reads go through a 64 KiB buffer, so the small heads of a walk cost
// no system call each; large reads go straight into the caller's memory.
class TFileStream final : public TStream {
 public:
  // Opens a regular file for reading; null when it does not exist, is not a regular file
  // (a FIFO, a device, a socket or a folder is refused at once, without waiting for a
  // writer) or cannot be read. AError (may be null) then receives why, in words for the
  // user.
  static std::unique_ptr<TFileStream> OpenRead(const std::string& AFileName, std::string* AError = nullptr);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* ABuffer, size_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  int64_t Position() const override { return FPosition; }
  // Leaves the position and the read buffer as they are, so a walk can look ahead at heads
  // while its payload reads go on through the buffer: served from either buffer when the
  // bytes are there, else through a look-ahead buffer of its own (a large read when the
  // looks go forward in small steps, a small one after a jump).
  size_t ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) override;
  // The file's size when it was opened.
  int64_t Size() const override { return FSize; }
  const std::string& FileName() const { return FFileName; }
  TFileIdentity Identity() const override { return FIdentity; }
  bool EndedEarly() const override { return FEndedEarly; }

 private:
  TFileStream(int AFd, int64_t ASize, std::string AFileName, TFileIdentity AIdentity);
  size_t PRead(int64_t AOffset, void* ABuffer, size_t ACount);

  int FFd;
  int64_t FSize;
  int64_t FPosition = 0;
  std::string FFileName;
  std::vector<uint8_t> FBuffer;
  int64_t FBufferStart = 0;  // file offset of FBuffer[0]
  size_t FBufferLen = 0;     // valid bytes in FBuffer
  bool FSeekedAway = false;  // the last seek jumped far from the buffer
  std::vector<uint8_t> FAhead;  // ReadAt's buffer, made at its first use
  int64_t FAheadStart = 0;
  size_t FAheadLen = 0;
  TFileIdentity FIdentity;
  bool FEndedEarly = false;
};

// A read stream over bytes in memory that it does not own.
class TMemoryStream final : public TStream {
 public:
  TMemoryStream(const void* AData, size_t ASize);
  size_t Read(void* ABuffer, size_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  int64_t Position() const override { return FPosition; }
  int64_t Size() const override { return static_cast<int64_t>(FSize); }

 private:
  const uint8_t* FData;
  size_t FSize;
  int64_t FPosition = 0;
};
