// The block reader (protocol/UOmBlockReader) over a record stream, as the probe, the
// conversion worker and the raw export walk a recording.
#pragma once

#include <cstdint>

#include "conversion/UStreams.h"
#include "protocol/UOmBlockReader.h"

// A record stream seen as bytes at any offset.
class TStreamByteSource final : public TOmByteSource {
 public:
  explicit TStreamByteSource(TStream& AStream) : FStream(AStream) {}
  int64_t Size() const override { return FStream.Size(); }
  size_t ReadAt(int64_t AOffset, void* ABuffer, size_t ACount) override;

 private:
  TStream& FStream;
};

// Walks a record stream from offset 0, block by block; every damaged region is logged as
// "Skip damaged data: offset %lld, length %lld" before it is handed on.
class TRecordBlockReader {
 public:
  explicit TRecordBlockReader(TStream& AStream) : FSource(AStream), FReader(FSource) {}
  TOmReadItem Next(TOmBlock& ABlock, TOmDamage& ADamage);
  int64_t Position() const { return FReader.Position(); }
  int64_t Size() const { return FReader.Size(); }
  int64_t DamagedRegions() const { return FReader.DamagedRegions(); }
  int64_t DamagedBytes() const { return FReader.DamagedBytes(); }

 private:
  TStreamByteSource FSource;
  TOmBlockReader FReader;
};
