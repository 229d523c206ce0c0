#include "UVyrRecordBuilder.h"

#include <cstdio>

void TVyrRecordBuilder::AddHead(uint16_t ACmd, uint16_t ALength, uint32_t AMagic) {
  TOmHead h{};
  h.INF = AMagic;
  h.ver = stHeadVR;
  h.mtype = stHeadTP;
  h.nCmd = ACmd;
  h.sn = FSerial++;
  h.length = ALength;
  uint8_t b[OmHeadSize];
  EncodeOmHead(h, b);
  FBytes.insert(FBytes.end(), b, b + OmHeadSize);
}

void TVyrRecordBuilder::AddVideo(const TVideoBlockSpec& s, const uint8_t* APayload, size_t ASize) {
  uint32_t frameLength = s.OverrideFrameLength ? s.FrameLength : static_cast<uint32_t>(ASize);
  AddHead(OmCmdSendVideoData, static_cast<uint16_t>(OmDataHeadSize + ASize), s.Magic);
  TOmVideoDataHead v{};
  v.byVideoType = s.VideoType;
  v.byChannelID = s.ChannelID;
  v.byVideoMode = s.VideoMode;
  v.byFrameType = s.FrameType;
  v.byPackCount = 1;
  v.dwFrameID = s.FrameID;
  v.dwFrameLength = frameLength;
  v.dwSecTimeStamp = s.SecTimeStamp;
  v.nMiliTimeStamp = s.MiliTimeStamp;
  v.nDataLength = static_cast<uint16_t>(ASize);
  uint8_t b[OmDataHeadSize];
  EncodeOmVideoHead(v, b);
  FBytes.insert(FBytes.end(), b, b + OmDataHeadSize);
  if (ASize) FBytes.insert(FBytes.end(), APayload, APayload + ASize);
}

void TVyrRecordBuilder::AddAudio(const TAudioBlockSpec& s, const uint8_t* APayload, size_t ASize) {
  uint32_t frameLength = s.OverrideFrameLength ? s.FrameLength : static_cast<uint32_t>(ASize);
  AddHead(OmCmdSendAudioData, static_cast<uint16_t>(OmDataHeadSize + ASize), s.Magic);
  TOmAudioDataHead a{};
  a.byAudioType = s.AudioType;
  a.byPackCount = 1;
  a.dwFrameID = s.FrameID;
  a.dwFrameLength = frameLength;
  a.dwSecTimeStamp = s.SecTimeStamp;
  a.nMiliTimeStamp = s.MiliTimeStamp;
  a.nDataLength = static_cast<uint16_t>(ASize);
  uint8_t b[OmDataHeadSize];
  EncodeOmAudioHead(a, b);
  FBytes.insert(FBytes.end(), b, b + OmDataHeadSize);
  if (ASize) FBytes.insert(FBytes.end(), APayload, APayload + ASize);
}

void TVyrRecordBuilder::AddOther(uint16_t ACmd, uint16_t ABodyLength, const std::vector<uint8_t>& ABody,
                                 uint32_t AMagic) {
  AddHead(ACmd, ABodyLength, AMagic);
  FBytes.insert(FBytes.end(), ABody.begin(), ABody.end());
}

void TVyrRecordBuilder::AddBytes(const std::vector<uint8_t>& ABytes) {
  FBytes.insert(FBytes.end(), ABytes.begin(), ABytes.end());
}

void TVyrRecordBuilder::Truncate(size_t ACount) {
  FBytes.resize(ACount >= FBytes.size() ? 0 : FBytes.size() - ACount);
}

bool TVyrRecordBuilder::SaveToFile(const std::string& AFileName) const {
  FILE* f = std::fopen(AFileName.c_str(), "wb");
  if (!f) return false;
  bool ok = FBytes.empty() || std::fwrite(FBytes.data(), 1, FBytes.size(), f) == FBytes.size();
  ok = (std::fclose(f) == 0) && ok;
  return ok;
}

bool TVyrRecordBuilder::FlushTo(std::FILE* AFile) {
  bool ok = FBytes.empty() || std::fwrite(FBytes.data(), 1, FBytes.size(), AFile) == FBytes.size();
  FBytes.clear();
  return ok;
}

std::vector<uint8_t> PatternBytes(size_t ASize, uint32_t ASeed) {
  std::vector<uint8_t> v(ASize);
  uint32_t x = ASeed * 2654435761u + 12345u;
  for (size_t i = 0; i < ASize; ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = static_cast<uint8_t>(x >> 24);
  }
  return v;
}
