// Byte streams of the conversion core: a seekable read stream over a record file or over
// memory (the walks of the probe, the raw export and the conversion worker take either,
// so they can be fed from memory), and a buffered output file that remembers whether
// every write reached the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class TSeekOrigin { Begin, Current, End };

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
};

// A record file opened for reading. Other processes may go on reading and writing the
// file meanwhile. Reads go through a 64 KiB buffer, so the small heads of a walk cost
// no system call each; large reads go straight into the caller's memory.
class TFileStream final : public TStream {
 public:
  // Opens a regular file for reading; null when it does not exist, is not a regular
  // file or cannot be read.
  static std::unique_ptr<TFileStream> OpenRead(const std::string& AFileName);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* ABuffer, size_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  int64_t Position() const override { return FPosition; }
  // The file's size when it was opened.
  int64_t Size() const override { return FSize; }
  const std::string& FileName() const { return FFileName; }

 private:
  TFileStream(int AFd, int64_t ASize, std::string AFileName);
  size_t ReadAt(int64_t AOffset, void* ABuffer, size_t ACount);

  int FFd;
  int64_t FSize;
  int64_t FPosition = 0;
  std::string FFileName;
  std::vector<uint8_t> FBuffer;
  int64_t FBufferStart = 0;  // file offset of FBuffer[0]
  size_t FBufferLen = 0;     // valid bytes in FBuffer
  bool FSeekedAway = false;  // the last seek jumped far from the buffer
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

// An output file, created new (an existing file of that name is replaced), written
// through a buffer. Every failure is remembered: Failed() tells whether anything that was
// handed to it did not reach the file, Close() whether the whole file is on disk.
//
// While it is written, a regular file lives under a temporary name beside its final one
// (the final name + ".part"); Close() renames it. So a process that is killed in the
// middle leaves a ".part" file, never a damaged file under the name of a finished one.
// Close() keeps a file whose writes failed under the temporary name. Special files
// (devices, pipes) are written directly.
class TFileWriter {
 public:
  // Creates the file; null when it cannot be created.
  static std::unique_ptr<TFileWriter> Create(const std::string& AFileName);
  ~TFileWriter();
  TFileWriter(const TFileWriter&) = delete;
  TFileWriter& operator=(const TFileWriter&) = delete;

  bool Write(const void* AData, size_t ACount);
  // Overwrites bytes already written (size fields patched after their payload).
  bool WriteAt(int64_t AOffset, const void* AData, size_t ACount);
  // Copies exactly ACount bytes from the stream's position in bounded chunks; false
  // when fewer came or a write failed. ACopied receives the bytes written.
  bool CopyFrom(TStream& ASource, uint64_t ACount, uint64_t* ACopied = nullptr);
  // Moves the end of the file ACount bytes on without writing them: they read as zeros
  // and take no disk space where the file system keeps holes.
  bool Skip(uint64_t ACount);
  // Bytes handed to the writer so far (the logical end of the file).
  int64_t Position() const { return FPosition; }
  bool Failed() const { return FFailed; }
  // Flushes and closes; true when every byte reached the file. Safe to call twice.
  bool Close();
  // The final name.
  const std::string& FileName() const { return FFileName; }
  // The name written to until Close() (equal to FileName() for special files).
  const std::string& WorkFileName() const { return FWorkFileName; }

  static constexpr const char* PartSuffix = ".part";

 private:
  TFileWriter(int AFd, std::string AFileName, std::string AWorkFileName);
  bool Flush();
  bool WriteAll(const void* AData, size_t ACount);

  int FFd;
  std::string FFileName;
  std::string FWorkFileName;
  std::vector<uint8_t> FBuffer;
  size_t FBufferLen = 0;
  int64_t FPosition = 0;
  bool FFailed = false;
};
