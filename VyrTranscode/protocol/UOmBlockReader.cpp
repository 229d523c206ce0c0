#include "protocol/UOmBlockReader.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The magic as it lies on disk.
constexpr uint8_t MagicBytes[4] = {0xEA, 0x82, 0xF9, 0x34};
// The search reads the file in windows of this size (plus the bytes of a head, so a head
// across two windows is seen whole).
constexpr size_t ScanWindow = 1024 * 1024;

// The offset of the first place in [ABegin, AEnd) where the magic's four bytes start, or
// AEnd. The search runs over damage, often over long stretches of garbage: sixteen places
// are tested at once for the magic's first two bytes, which random bytes hold once in
// 65536 places, before the four are compared.
const uint8_t* FindMagic(const uint8_t* ABegin, const uint8_t* AEnd) {
  const uint8_t* p = ABegin;
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(static_cast<char>(MagicBytes[0]));
  const __m128i second = _mm_set1_epi8(static_cast<char>(MagicBytes[1]));
  while (AEnd - p >= 20) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, second))));
    while (mask != 0) {
      const int bit = __builtin_ctz(mask);
      if (std::memcmp(p + bit, MagicBytes, sizeof MagicBytes) == 0) return p + bit;
      mask &= mask - 1;
    }
    p += 16;
  }
#endif
  // The rest (and every byte where the vector form is not built).
  const void* hit = ::memmem(p, static_cast<size_t>(AEnd - p), MagicBytes, sizeof MagicBytes);
  return hit ? static_cast<const uint8_t*>(hit) : AEnd;
}

}  // namespace

size_t TOmMemorySource::ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) {
  if (AOffset < 0 || static_cast<uint64_t>(AOffset) >= FSize) return 0;
  const size_t n = std::min(ACount, FSize - static_cast<size_t>(AOffset));
  std::memcpy(ABuffer, FData + AOffset, n);
  return n;
}

uint32_t TOmBlock::AvailableLength(int64_t AFileSize) const {
  if (!Cut) return PayloadLength;
  const int64_t held = AFileSize - PayloadOffset;
  return held <= 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(held, PayloadLength));
}

bool OmMagicPrefixMatches(const uint8_t* ABytes, size_t ACount) {
  return std::memcmp(ABytes, MagicBytes, std::min<size_t>(ACount, 4)) == 0;
}

bool OmIsKnownVideoType(uint8_t AType) { return AType <= OmVideoType_H265; }

bool OmIsKnownAudioType(uint8_t AType) {
  return AType == AUDIO_TYPE_NONE || AType == AUDIO_TYPE_G711A || AType == AUDIO_TYPE_G711U ||
         AType == AUDIO_TYPE_PCM;
}

TOmBlockReader::TOmBlockReader(TOmByteSource& ASource) : FSource(ASource), FSize(std::max<int64_t>(0, ASource.Size())) {}

size_t TOmBlockReader::Fetch(int64_t AOffset, uint8_t* ABuffer, size_t ACount) {
  ACount = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(ACount), std::max<int64_t>(0, FSize - AOffset)));
  if (ACount == 0) return 0;
  if (AOffset == FCacheAt && ACount <= FCacheLen) {
    std::memcpy(ABuffer, FCache, ACount);
    return ACount;
  }
  const size_t got = FSource.ReadAt(AOffset, ABuffer, ACount);
  // Fewer bytes than the size promised: the file is shorter now; work with what is there.
  if (got < ACount) FSize = AOffset + static_cast<int64_t>(got);
  if (ACount <= sizeof FCache) {
    std::memcpy(FCache, ABuffer, got);
    FCacheAt = AOffset;
    FCacheLen = got;
  }
  return got;
}

TOmBlockReader::TShape TOmBlockReader::Classify(int64_t AOffset, const uint8_t* ABytes, size_t AAvail,
                                                bool AStrictMagic, TOmBlock& ABlock) const {
  ABlock = TOmBlock();
  ABlock.Offset = AOffset;
  if (AAvail < OmHeadSize) return TShape::Partial;
  ABlock.Head = DecodeOmHead(ABytes);
  const bool magicOk = ABlock.Head.INF == stHeadINF;
  if (ABlock.IsVideo() || ABlock.IsAudio()) {
    if (AAvail < OmHeadInfoSize) return TShape::Partial;
    if (!magicOk && AStrictMagic) return TShape::Implausible;
    const uint8_t* sub = ABytes + OmHeadSize;
    if (ABlock.IsVideo()) {
      ABlock.Video = DecodeOmVideoHead(sub);
      if (!OmIsKnownVideoType(ABlock.Video.byVideoType)) return TShape::Implausible;
      ABlock.PayloadLength = ABlock.Video.dwFrameLength;
    } else {
      ABlock.Audio = DecodeOmAudioHead(sub);
      if (!OmIsKnownAudioType(ABlock.Audio.byAudioType)) return TShape::Implausible;
      ABlock.PayloadLength = ABlock.Audio.dwFrameLength;
    }
    if (ABlock.PayloadLength > OmMaxPayloadLength) return TShape::Implausible;
    ABlock.PayloadOffset = AOffset + static_cast<int64_t>(OmHeadInfoSize);
  } else {
    // Other commands carry no codec to check: only a right magic vouches for them, and where
    // the reader searches through damage, the protocol's version and message type too.
    if (!magicOk) return TShape::Implausible;
    if (AStrictMagic && (ABlock.Head.ver != stHeadVR || ABlock.Head.mtype != stHeadTP)) return TShape::Implausible;
    ABlock.PayloadLength = ABlock.Head.length;
    ABlock.PayloadOffset = AOffset + static_cast<int64_t>(OmHeadSize);
  }
  ABlock.MagicRepaired = !magicOk;
  ABlock.End = ABlock.PayloadOffset + static_cast<int64_t>(ABlock.PayloadLength);
  return ABlock.End <= FSize ? TShape::Fits : TShape::RunsPast;
}

bool TOmBlockReader::Confirms(int64_t AOffset) {
  if (AOffset >= FSize) return true;
  uint8_t bytes[OmHeadInfoSize];
  const size_t avail = Fetch(AOffset, bytes, sizeof bytes);
  if (AOffset >= FSize) return true;  // the file turned out to end here
  TOmBlock next;
  switch (Classify(AOffset, bytes, avail, false, next)) {
    case TShape::Partial:
      // A head cut by the end of the file: its magic must be right as far as it goes.
      return OmMagicPrefixMatches(bytes, avail);
    case TShape::Implausible:
      return false;
    case TShape::Fits:
      return true;
    case TShape::RunsPast:
      // A video or audio successor that runs past the end is the file's cut last block: it
      // still vouches for this one. A head of another command has only its length to show.
      return next.IsVideo() || next.IsAudio();
  }
  return false;
}

TOmBlockReader::TFound TOmBlockReader::Search(int64_t AFrom) {
  // A later search from inside the range the last one covered has the same answer.
  if (FSearchFrom >= 0 && AFrom >= FSearchFrom &&
      (FSearchResult.Offset < 0 ? AFrom <= FSize : AFrom <= FSearchResult.Offset)) {
    return FSearchResult;
  }
  TFound found;
  int64_t cutCandidate = -1;
  if (FScan.empty()) FScan.resize(ScanWindow + OmHeadInfoSize);
  int64_t windowStart = AFrom;
  while (found.Offset < 0 && windowStart + 4 <= FSize) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(FScan.size(), FSize - windowStart));
    const size_t got = FSource.ReadAt(windowStart, FScan.data(), want);
    if (got < want) FSize = windowStart + static_cast<int64_t>(got);
    if (got < 4) break;
    const uint8_t* base = FScan.data();
    const uint8_t* at = base;
    const uint8_t* const last = base + got;
    // Candidates are the offsets of the magic's bytes; each is then checked whole.
    while (found.Offset < 0) {
      const uint8_t* h = FindMagic(at, last);
      if (h == last) break;
      const int64_t offset = windowStart + (h - base);
      at = h + 1;
      size_t avail = static_cast<size_t>(last - h);
      uint8_t bytes[OmHeadInfoSize];
      if (avail < OmHeadInfoSize && offset + static_cast<int64_t>(avail) < FSize) {
        avail = Fetch(offset, bytes, sizeof bytes);  // the head runs into the next window
      } else {
        avail = std::min(avail, sizeof bytes);
        std::memcpy(bytes, h, avail);
      }
      TOmBlock block;
      switch (Classify(offset, bytes, avail, true, block)) {
        case TShape::Fits:
          if (Confirms(block.End)) found.Offset = offset;
          break;
        case TShape::RunsPast:
        case TShape::Partial:
          // The end of the file cuts this one: the cut last block, unless a block is
          // accepted after it.
          if (cutCandidate < 0) cutCandidate = offset;
          break;
        case TShape::Implausible:
          break;
      }
    }
    if (got < FScan.size()) break;  // the end of the file is in this window
    // The next window starts where a magic not yet seen whole could begin.
    windowStart += static_cast<int64_t>(got) - 3;
  }
  if (found.Offset < 0 && cutCandidate >= 0) {
    found.Offset = cutCandidate;
    found.Cut = true;
  }
  FSearchFrom = AFrom;
  FSearchResult = found;
  return found;
}

TOmReadItem TOmBlockReader::Damage(int64_t AOffset, int64_t AEnd, TOmDamage& ADamage) {
  ADamage.Offset = AOffset;
  ADamage.Length = AEnd - AOffset;
  ++FDamagedRegions;
  FDamagedBytes += ADamage.Length;
  FPos = AEnd;
  return TOmReadItem::Damage;
}

TOmReadItem TOmBlockReader::Next(TOmBlock& ABlock, TOmDamage& ADamage) {
  if (FPos >= FSize) return TOmReadItem::End;
  const int64_t at = FPos;
  uint8_t bytes[OmHeadInfoSize];
  const size_t avail = Fetch(at, bytes, sizeof bytes);
  if (at >= FSize) return TOmReadItem::End;  // the file turned out to end here

  auto damageUpTo = [&](const TFound& AFound) {
    return Damage(at, AFound.Offset >= 0 ? AFound.Offset : FSize, ADamage);
  };
  switch (Classify(at, bytes, avail, false, ABlock)) {
    case TShape::Partial:
      // The end of the file cuts a head: quietly the end when its magic is right as far as
      // it goes, like any cut file.
      if (OmMagicPrefixMatches(bytes, avail)) {
        FPos = FSize;
        return TOmReadItem::End;
      }
      return damageUpTo(Search(at + 1));
    case TShape::Implausible:
      return damageUpTo(Search(at + 1));
    case TShape::RunsPast: {
      const TFound after = Search(at + 1);
      if (after.Offset >= 0 && !after.Cut) return damageUpTo(after);
      // Nothing accepted after it: the file's cut last block.
      ABlock.Cut = true;
      FPos = FSize;
      return TOmReadItem::Block;
    }
    case TShape::Fits:
      break;
  }
  if (Confirms(ABlock.End)) {
    FPos = ABlock.End;
    return TOmReadItem::Block;
  }
  // What follows is no head. Either this block's length is wrong, or the damage starts
  // right after it. A head with a wrong magic has nothing more to vouch for it.
  if (ABlock.MagicRepaired) return damageUpTo(Search(at + 1));
  const TFound next = Search(at + 1);
  const int64_t nextStart = next.Offset >= 0 && !next.Cut ? next.Offset : FSize;
  if (nextStart < ABlock.End + static_cast<int64_t>(OmHeadSize)) {
    // A block (or the end of the file) comes inside this one, or too soon after it for a
    // damaged head in between: this block's length is wrong.
    return damageUpTo(next);
  }
  FPos = ABlock.End;
  return TOmReadItem::Block;
}
