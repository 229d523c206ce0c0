// Where the pictures of a recording in Motion JPEG, H.265 or MPEG-4 can be cut into segments
// that fresh decoders decode exactly as one decoder going through the whole recording would,
// and what a segment must carry from before it to be decoded on its own.
//
// - Motion JPEG: every picture stands alone.
// - H.265: IDR pictures; CRA pictures when no RASL picture follows them (such pictures refer to
//   pictures before the CRA). A segment needs the VPS, SPS and PPS in force where it starts.
// - MPEG-4: I-VOPs. A segment needs the VOL header (and what comes before it) in force.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class TSegmentCut {
  None,        // a segment may not start at this picture
  Cut,         // it may
  CutUnlessRasl,  // it may, unless the next picture is a RASL picture
};

class TSegmentCuts {
 public:
  explicit TSegmentCuts(uint8_t AVideoType) : FVideoType(AVideoType) {}

  // Looks at the next picture in file order: notes the parameter sets or VOL header it
  // carries, and tells whether a segment may start with it.
  TSegmentCut Look(const uint8_t* APayload, size_t ASize);
  // Whether a picture is a RASL picture (H.265), one that refers to pictures before its CRA.
  bool IsRasl(const uint8_t* APayload, size_t ASize) const;
  // What a segment that starts with this picture needs in front of it: the parameter sets
  // or VOL header in force that the picture does not carry itself (empty when it has them).
  std::vector<uint8_t> Prefix(const uint8_t* APayload, size_t ASize) const;

 private:
  uint8_t FVideoType;
  std::vector<uint8_t> FVps, FSps, FPps;  // with their start codes
  std::vector<uint8_t> FVolHeader;        // from the first header start code up to the VOP
};
