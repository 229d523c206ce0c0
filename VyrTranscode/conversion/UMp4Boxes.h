// Writing the boxes of an MP4 file: one function per box, each writing a size
// placeholder, its payload, and then patching the size. The file header and the media
// data header are written when the file is created; the movie index (moov) when it
// closes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion/UMp4Track.h"
#include "conversion/UOutputFile.h"

// Writes big-endian fields and boxes through a TFileWriter. A failed write or a box too
// large for its 32-bit size leaves Ok() false; later writes still go on, so one check at
// the end is enough.
class TBoxWriter {
 public:
  explicit TBoxWriter(TFileWriter& AOut) : FOut(AOut) {}

  // Writes the size placeholder and the type; returns the box's offset for EndBox.
  int64_t BeginBox(const char* AType);
  int64_t BeginFullBox(const char* AType, uint8_t AVersion, uint32_t AFlags);
  void EndBox(int64_t AStart);

  void U8(uint8_t AValue);
  void U16(uint16_t AValue);
  void U24(uint32_t AValue);
  void U32(uint32_t AValue);
  void U64(uint64_t AValue);
  void FourCC(const char* AType);
  void Bytes(const void* AData, size_t ACount);
  void Zeros(size_t ACount);

  int64_t Position() const { return FOut.Position(); }
  bool Ok() const { return !FFailed && !FOut.Failed(); }
  TFileWriter& Out() { return FOut; }

 private:
  TFileWriter& FOut;
  bool FFailed = false;
};

// What the movie header needs besides the tracks.
struct TMp4MovieInfo {
  uint32_t TimeScale = 1000;
  uint64_t CreationTime = 0;  // seconds since 1904-01-01 UTC
  bool HasProfileLevels = false;
  uint8_t VideoProfileLevel = 0xFF;
  uint8_t AudioProfileLevel = 0xFF;
  // How the conversion that wrote the file ended ("finished" or "stopped"), kept in a
  // user-data item that players ignore; empty: no item.
  std::string ConversionState;
};

// The user-data item (moov/udta/vyrc) that records how the conversion ended.
constexpr const char* ConversionStateBox = "vyrc";

// Converts a duration from one time scale to another (rounded down, no overflow).
uint64_t RescaleDuration(uint64_t ADuration, uint32_t AFromScale, uint32_t AToScale);

// The part of the track's media that its edit plays, in the track's time scale.
uint64_t EditMediaDuration(const TMp4Track& ATrack);
// How long the track plays in the movie (its edit, or all of its media), movie time scale.
uint64_t TrackPresentationDuration(const TMp4Track& ATrack, uint32_t AMovieTimeScale);

void WriteFtypBox(TBoxWriter& AOut);
// A media data header that can become 64-bit later: an 8-byte free box followed by the
// 8-byte header of the mdat box. Returns the offset of the free box.
int64_t WriteMdatHeader(TBoxWriter& AOut);
// Sets the size of the media data that runs from the header at AHeaderStart to AEnd:
// the 32-bit size when it fits, else the 64-bit form over the free box. False when the
// patch could not be written.
bool PatchMdatSize(TFileWriter& AOut, int64_t AHeaderStart, int64_t AEnd);

void WriteMoovBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie,
                  const std::vector<const TMp4Track*>& ATracks);
