// The one reader of the record file's block structure. The probe, the conversion worker,
// the raw export and the fuzz targets all walk a recording through it, so they always agree
// on where the blocks are.
//
// A block is accepted when its head is plausible and what follows it is a plausible head or
// the end of the file (the next block confirms the length of this one):
// - the magic is right; for a video or audio head, a wrong magic alone is forgiven when
//   everything else is plausible and the block is confirmed (a flipped bit loses nothing);
// - the command is video or audio data, or another command whose body fits in the file
//   (found by a search through damage, such a head must also carry the protocol's version
//   and message type: nothing else vouches for it);
// - a video or audio head names a known codec, and its payload fits in the file and is at
//   most OmMaxPayloadLength bytes.
// What is not accepted is damage: the reader searches forward from the byte after the
// rejected head for the next offset where a block is accepted (with a right magic) and
// reports the bytes in between as one damaged region. Bytes inside an accepted block are
// never searched. A block whose payload runs past the end of the file, with no accepted
// block anywhere after its head, is the file's cut last block. A block whose successor is
// damaged is kept when no accepted block (nor the end of the file) comes inside it or less
// than a head after it (else its own length is wrong and it is damage itself).
//
// Nothing is allocated from a length field; the search reads the file in bounded chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/UOmCamProtocol.h"

// Bytes at any offset of a source of fixed size (a record file, or memory).
class TOmByteSource {
 public:
  virtual ~TOmByteSource() = default;
  virtual int64_t Size() const = 0;
  // Reads up to ACount bytes at AOffset; returns how many came (fewer only at the end, or
  // when the source shrank or failed).
  virtual size_t ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) = 0;
};

// A source over bytes in memory that it does not own.
class TOmMemorySource final : public TOmByteSource {
 public:
  TOmMemorySource(const void* AData, size_t ASize) : FData(static_cast<const uint8_t*>(AData)), FSize(ASize) {}
  int64_t Size() const override { return static_cast<int64_t>(FSize); }
  size_t ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) override;

 private:
  const uint8_t* FData;
  size_t FSize;
};

// One block as the reader found it.
struct TOmBlock {
  int64_t Offset = 0;  // where its head starts
  TOmHead Head{};
  TOmVideoDataHead Video{};  // video blocks
  TOmAudioDataHead Audio{};  // audio blocks
  int64_t PayloadOffset = 0;   // the payload (video, audio) or the body (other commands)
  uint32_t PayloadLength = 0;  // as the heads give it
  int64_t End = 0;             // where the next block starts
  bool Cut = false;            // the file's cut last block: the file ends before End
  bool MagicRepaired = false;  // accepted although its magic was wrong

  bool IsVideo() const { return Head.nCmd == OmCmdSendVideoData; }
  bool IsAudio() const { return Head.nCmd == OmCmdSendAudioData; }
  // The time stamp of a video or audio block in ms, in 64 bits, and whether it can be used
  // as a time (a millisecond field of 1000 or more cannot).
  int64_t StampMs() const {
    return IsAudio() ? static_cast<int64_t>(Audio.dwSecTimeStamp) * 1000 + Audio.nMiliTimeStamp
                     : static_cast<int64_t>(Video.dwSecTimeStamp) * 1000 + Video.nMiliTimeStamp;
  }
  bool StampValid() const { return (IsAudio() ? Audio.nMiliTimeStamp : Video.nMiliTimeStamp) < 1000; }
  // Payload bytes the file holds (fewer than PayloadLength only for a cut block).
  uint32_t AvailableLength(int64_t AFileSize) const;
};

// Bytes that are no block: skipped.
struct TOmDamage {
  int64_t Offset = 0;
  int64_t Length = 0;
};

enum class TOmReadItem { Block, Damage, End };

class TOmBlockReader {
 public:
  explicit TOmBlockReader(TOmByteSource& ASource);

  // The next block or damaged region from the current position; End at the end of the file
  // (and for every later call). A cut block is the last item before End.
  TOmReadItem Next(TOmBlock& ABlock, TOmDamage& ADamage);
  // Where the next item starts.
  int64_t Position() const { return FPos; }
  int64_t Size() const { return FSize; }
  int64_t DamagedRegions() const { return FDamagedRegions; }
  int64_t DamagedBytes() const { return FDamagedBytes; }

 private:
  enum class TShape { Partial, Implausible, Fits, RunsPast };
  struct TFound {
    int64_t Offset = -1;  // -1: nothing accepted up to the end
    bool Cut = false;     // a block whose payload runs past the end, nothing accepted after it
  };

  // Reads up to ACount bytes at AOffset, through a one-head cache; a short read shrinks the
  // size the reader works with (the file was cut meanwhile).
  size_t Fetch(int64_t AOffset, uint8_t* ABuffer, size_t ACount);
  // Looks at the head bytes at AOffset (AAvail of them, at most OmHeadInfoSize) and fills
  // ABlock. AStrictMagic: a wrong magic makes the head implausible.
  TShape Classify(int64_t AOffset, const uint8_t* ABytes, size_t AAvail, bool AStrictMagic, TOmBlock& ABlock) const;
  // Whether what lies at AOffset confirms the block that ends there.
  bool Confirms(int64_t AOffset);
  // The first offset at or after AFrom where a block with a right magic is accepted.
  TFound Search(int64_t AFrom);
  TOmReadItem Damage(int64_t AOffset, int64_t AEnd, TOmDamage& ADamage);

  TOmByteSource& FSource;
  int64_t FSize;
  int64_t FPos = 0;
  int64_t FDamagedRegions = 0;
  int64_t FDamagedBytes = 0;
  // The last head read, by offset (a confirmation reads the next block's head).
  int64_t FCacheAt = -1;
  size_t FCacheLen = 0;
  uint8_t FCache[OmHeadInfoSize] = {};
  // The last search: from where, and what it found.
  int64_t FSearchFrom = -1;
  TFound FSearchResult;
  std::vector<uint8_t> FScan;  // the search's window, made at the first search
};

// Whether the first ACount bytes (up to 4) are those of the magic.
bool OmMagicPrefixMatches(const uint8_t* ABytes, size_t ACount);
// Video codec and audio codes that a recorder writes.
bool OmIsKnownVideoType(uint8_t AType);
bool OmIsKnownAudioType(uint8_t AType);
