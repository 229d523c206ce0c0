// Output files of the converter (MP4 files and raw streams alike), written as if someone
// had prepared the output folder against the user:
//
// - The bytes go to a work file beside the final name ("<final name>.part", or the fixed
//   shorter name of MakeWorkFileName when that would pass the file system's name limit).
//   It is created exclusively and never opened through whatever is already there: a link
//   planted under the work name is removed, never followed.
// - While it is written, the work file is locked (flock). A locked work file belongs to
//   another converter writing the same output, and this output fails. An unlocked one is
//   a leftover of an earlier run: it is removed and the work file created anew. Of two
//   converters racing for one work name, exactly one wins.
// - A final name that exists must be a regular file or a link; the work file replaces it by
//   a rename, which never writes through a link. A device, a FIFO or a folder under the
//   final name fails the output before anything is written.
// - An output is never its own input: the final name may not lead to the file being read.
// - A normal end flushes, syncs the work file, renames it over the final name and syncs
//   the folder, so a final name always holds a complete file, even after a power cut.
//   A failure removes the work file. A stop by the user keeps the closed file: under the
//   final name when no file of that name existed before, else under the work name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conversion/UStreams.h"

// How an output file is finished.
enum class TOutputCloseMode {
  Finish,   // complete: takes the final name
  Stopped,  // stopped by the user: takes the final name only when it was free at the start
  Discard,  // failed or empty: the work file is removed
};

// Buffered output file that remembers whether every write reached the disk: Failed()
// tells whether anything handed to it did not reach the file, Close() whether the whole
// file is on disk under the name it was meant to have.
class TFileWriter {
 public:
  // Creates the work file of AFileName. Null when the output cannot be made; AError (may be
  // null) then receives why, in words for the user ("the output ... is a device, a FIFO or
  // a folder"). AInput (when valid) is the file being converted, which the output may not
  // replace.
  static std::unique_ptr<TFileWriter> Create(const std::string& AFileName, const TFileIdentity& AInput = {},
                                             std::string* AError = nullptr);
  // A writer still open is discarded: an output that nobody finished is not complete.
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
  // Finishes the file as AMode says (see the top of this file); true when the file is
  // complete on disk where KeptFileName() says. A write failure turns every mode into a
  // discard. Safe to call twice: the second call reports the first one's result.
  bool Close(TOutputCloseMode AMode = TOutputCloseMode::Finish);
  // The final name.
  const std::string& FileName() const { return FFileName; }
  // The name written to until Close().
  const std::string& WorkFileName() const { return FWorkFileName; }
  // After Close(): the file that holds the output (the final or the work name), empty when
  // nothing was kept. Before Close(): empty.
  const std::string& KeptFileName() const { return FKeptFileName; }
  // A file existed under the final name when this writer was created.
  bool FinalExisted() const { return FFinalExisted; }
  // Why the last Close() failed, in words for the user; empty after a success.
  const std::string& CloseError() const { return FCloseError; }

 private:
  TFileWriter(int AFd, int ADirFd, std::string AFileName, std::string AWorkFileName, bool AFinalExisted,
              const TFileIdentity& AInput);
  bool Flush();
  bool WriteAll(const void* AData, size_t ACount);
  bool Finish(bool ARename);

  int FFd;
  int FDirFd;  // the output folder, held open from the creation to the end
  std::string FFileName;
  std::string FWorkFileName;
  std::string FKeptFileName;
  std::string FCloseError;
  TFileIdentity FInput;
  bool FFinalExisted;
  std::vector<uint8_t> FBuffer;
  size_t FBufferLen = 0;
  int64_t FPosition = 0;
  bool FFailed = false;
  bool FClosed = false;
  bool FCloseResult = false;
};
