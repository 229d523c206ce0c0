// Builds record files block by block, as a recorder writes them, and also damaged ones:
// wrong magic, lengths that disagree with the payload, blocks of unknown commands, files
// cut short. Used by the tests, the sample generator and the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/UOmCamProtocol.h"

struct TVideoBlockSpec {
  uint8_t VideoType = OmVideoType_H264;
  uint8_t VideoMode = OmResolution_CIF;
  uint8_t FrameType = OmFrameType_I;
  uint8_t ChannelID = 0;
  uint32_t FrameID = 1;
  uint32_t SecTimeStamp = 1;
  uint16_t MiliTimeStamp = 0;
  uint32_t Magic = stHeadINF;
  // When set, written as dwFrameLength instead of the payload's size.
  bool OverrideFrameLength = false;
  uint32_t FrameLength = 0;
};

struct TAudioBlockSpec {
  uint8_t AudioType = AUDIO_TYPE_G711A;
  uint32_t FrameID = 1;
  uint32_t SecTimeStamp = 1;
  uint16_t MiliTimeStamp = 0;
  uint32_t Magic = stHeadINF;
  bool OverrideFrameLength = false;
  uint32_t FrameLength = 0;
};

class TVyrRecordBuilder {
 public:
  void AddVideo(const TVideoBlockSpec& ASpec, const uint8_t* APayload, size_t ASize);
  void AddVideo(const TVideoBlockSpec& ASpec, const std::vector<uint8_t>& APayload) {
    AddVideo(ASpec, APayload.data(), APayload.size());
  }
  void AddAudio(const TAudioBlockSpec& ASpec, const uint8_t* APayload, size_t ASize);
  void AddAudio(const TAudioBlockSpec& ASpec, const std::vector<uint8_t>& APayload) {
    AddAudio(ASpec, APayload.data(), APayload.size());
  }
  // A block of another command: the head with `length` = ABodyLength and the body bytes
  // (which may disagree with the length).
  void AddOther(uint16_t ACmd, uint16_t ABodyLength, const std::vector<uint8_t>& ABody,
                uint32_t AMagic = stHeadINF);
  // Arbitrary bytes.
  void AddBytes(const std::vector<uint8_t>& ABytes);
  // Cuts the last ACount bytes off.
  void Truncate(size_t ACount);

  const std::vector<uint8_t>& Bytes() const { return FBytes; }
  size_t Size() const { return FBytes.size(); }
  // Offset where the next block will start.
  size_t Offset() const { return FBytes.size(); }
  bool SaveToFile(const std::string& AFileName) const;
  // Appends the bytes added so far to AFile and forgets them; the blocks' serial numbers
  // go on, so a long recording can be written piece by piece in constant memory.
  bool FlushTo(std::FILE* AFile);

 private:
  void AddHead(uint16_t ACmd, uint16_t ALength, uint32_t AMagic);
  std::vector<uint8_t> FBytes;
  uint16_t FSerial = 0;
};

// Payload bytes of a given size filled with a pattern that differs per seed.
std::vector<uint8_t> PatternBytes(size_t ASize, uint32_t ASeed);
