#include <gtest/gtest.h>

#include "protocol/UOmCamProtocol.h"

TEST(OmCamProtocol, DecodesHeadFieldsLittleEndian) {
  const uint8_t bytes[16] = {0xEA, 0x82, 0xF9, 0x34, 16, 48, 0x01, 0x03,
                             0x78, 0x56, 0x34, 0x12, 0x22, 0x11, 0x64, 0x00};
  TOmHead h = DecodeOmHead(bytes);
  EXPECT_EQ(h.INF, stHeadINF);
  EXPECT_EQ(h.ver, stHeadVR);
  EXPECT_EQ(h.mtype, stHeadTP);
  EXPECT_EQ(h.nCmd, OmCmdSendVideoData);
  EXPECT_EQ(h.error, 0x12345678u);
  EXPECT_EQ(h.sn, 0x1122);
  EXPECT_EQ(h.length, 100);
}

TEST(OmCamProtocol, DecodesVideoAndAudioSubHeads) {
  uint8_t b[24] = {2, 7, 9, 0, 5, 1, 2, 3, 0x01, 0x02, 0x03, 0x04, 0x10, 0x27, 0, 0,
                   0xFF, 0xFF, 0xFF, 0xFF, 0xE7, 0x03, 0x34, 0x12};
  TOmVideoDataHead v = DecodeOmVideoHead(b);
  EXPECT_EQ(v.byVideoType, 2);
  EXPECT_EQ(v.byChannelID, 7);
  EXPECT_EQ(v.byVideoMode, 9);
  EXPECT_EQ(v.byFrameType, 5);
  EXPECT_EQ(v.dwFrameID, 0x04030201u);
  EXPECT_EQ(v.dwFrameLength, 10000u);
  EXPECT_EQ(v.dwSecTimeStamp, 0xFFFFFFFFu);
  EXPECT_EQ(v.nMiliTimeStamp, 999);
  EXPECT_EQ(v.nDataLength, 0x1234);
  TOmAudioDataHead a = DecodeOmAudioHead(b);
  EXPECT_EQ(a.byAudioType, 2);
  // dwFrameLength sits at the same offset in both sub-heads.
  EXPECT_EQ(a.dwFrameLength, v.dwFrameLength);
  EXPECT_EQ(OmGetU32(b + OmFrameLengthOffset), 10000u);
}

TEST(OmCamProtocol, EncodeDecodeRoundTrip) {
  TOmHead h{stHeadINF, 1, 2, OmCmdSendAudioData, 0xDEADBEEF, 77, 0xFFFF};
  uint8_t b[16];
  EncodeOmHead(h, b);
  EXPECT_EQ(b[0], 0xEA);
  EXPECT_EQ(b[3], 0x34);
  TOmHead back = DecodeOmHead(b);
  EXPECT_EQ(back.error, h.error);
  EXPECT_EQ(back.nCmd, h.nCmd);
  EXPECT_EQ(back.length, h.length);

  TOmAudioDataHead a{};
  a.byAudioType = AUDIO_TYPE_PCM;
  a.byDataType = 9;
  a.nReserved = 0xABCD;
  a.dwFrameLength = 0x80000001u;
  uint8_t ab[24];
  EncodeOmAudioHead(a, ab);
  TOmAudioDataHead aback = DecodeOmAudioHead(ab);
  EXPECT_EQ(aback.byAudioType, AUDIO_TYPE_PCM);
  EXPECT_EQ(aback.byDataType, 9);
  EXPECT_EQ(aback.nReserved, 0xABCD);
  EXPECT_EQ(aback.dwFrameLength, 0x80000001u);
}
