#include "protocol/UOmCamProtocol.h"

TOmHead DecodeOmHead(const uint8_t* b) {
  TOmHead h{};
  h.INF = OmGetU32(b + 0);
  h.ver = b[4];
  h.mtype = b[5];
  h.nCmd = OmGetU16(b + 6);
  h.error = OmGetU32(b + 8);
  h.sn = OmGetU16(b + 12);
  h.length = OmGetU16(b + 14);
  return h;
}

TOmVideoDataHead DecodeOmVideoHead(const uint8_t* b) {
  TOmVideoDataHead h{};
  h.byVideoType = b[0];
  h.byChannelID = b[1];
  h.byVideoMode = b[2];
  h.byReserved = b[3];
  h.byFrameType = b[4];
  h.byIsAckFlag = b[5];
  h.byPackIndex = b[6];
  h.byPackCount = b[7];
  h.dwFrameID = OmGetU32(b + 8);
  h.dwFrameLength = OmGetU32(b + 12);
  h.dwSecTimeStamp = OmGetU32(b + 16);
  h.nMiliTimeStamp = OmGetU16(b + 20);
  h.nDataLength = OmGetU16(b + 22);
  return h;
}

TOmAudioDataHead DecodeOmAudioHead(const uint8_t* b) {
  TOmAudioDataHead h{};
  h.byAudioType = b[0];
  h.byChannelID = b[1];
  h.byIsAckFlag = b[2];
  h.byPackIndex = b[3];
  h.byPackCount = b[4];
  h.byDataType = b[5];
  h.nReserved = OmGetU16(b + 6);
  h.dwFrameID = OmGetU32(b + 8);
  h.dwFrameLength = OmGetU32(b + 12);
  h.dwSecTimeStamp = OmGetU32(b + 16);
  h.nMiliTimeStamp = OmGetU16(b + 20);
  h.nDataLength = OmGetU16(b + 22);
  return h;
}

void EncodeOmHead(const TOmHead& h, uint8_t* b) {
  OmPutU32(b + 0, h.INF);
  b[4] = h.ver;
  b[5] = h.mtype;
  OmPutU16(b + 6, h.nCmd);
  OmPutU32(b + 8, h.error);
  OmPutU16(b + 12, h.sn);
  OmPutU16(b + 14, h.length);
}

void EncodeOmVideoHead(const TOmVideoDataHead& h, uint8_t* b) {
  b[0] = h.byVideoType;
  b[1] = h.byChannelID;
  b[2] = h.byVideoMode;
  b[3] = h.byReserved;
  b[4] = h.byFrameType;
  b[5] = h.byIsAckFlag;
  b[6] = h.byPackIndex;
  b[7] = h.byPackCount;
  OmPutU32(b + 8, h.dwFrameID);
  OmPutU32(b + 12, h.dwFrameLength);
  OmPutU32(b + 16, h.dwSecTimeStamp);
  OmPutU16(b + 20, h.nMiliTimeStamp);
  OmPutU16(b + 22, h.nDataLength);
}

void EncodeOmAudioHead(const TOmAudioDataHead& h, uint8_t* b) {
  b[0] = h.byAudioType;
  b[1] = h.byChannelID;
  b[2] = h.byIsAckFlag;
  b[3] = h.byPackIndex;
  b[4] = h.byPackCount;
  b[5] = h.byDataType;
  OmPutU16(b + 6, h.nReserved);
  OmPutU32(b + 8, h.dwFrameID);
  OmPutU32(b + 12, h.dwFrameLength);
  OmPutU32(b + 16, h.dwSecTimeStamp);
  OmPutU16(b + 20, h.nMiliTimeStamp);
  OmPutU16(b + 22, h.nDataLength);
}
