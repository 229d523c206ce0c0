// Record file structures and constants of the camera protocol.
//
// A record file is a sequence of blocks: a 16-byte TOmHead, then for video and audio
// data a 24-byte sub-head and dwFrameLength payload bytes, for any other command
// `length` body bytes. All fields are little-endian on disk; the Decode* functions read
// them byte by byte so the result does not depend on the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

// Magic of every message head (bytes EA 82 F9 34 on disk).
constexpr uint32_t stHeadINF = 0x34F982EA;
constexpr uint8_t stHeadVR = 16;  // protocol version
constexpr uint8_t stHeadTP = 48;  // message type

// Command codes.
constexpr uint16_t OmCmdSendVideoData = 769;
constexpr uint16_t OmCmdSendAudioData = 770;

// Video codec codes (byVideoType).
constexpr uint8_t OmVideoType_MPEG4 = 0;
constexpr uint8_t OmVideoType_H264 = 1;
constexpr uint8_t OmVideoType_MJPEG = 2;
constexpr uint8_t OmVideoType_H265 = 3;

// Video frame types (byFrameType).
constexpr uint8_t OmFrameType_I = 5;
constexpr uint8_t OmFrameType_P = 1;

// Audio codec codes (byAudioType); 0 means no audio.
constexpr uint8_t AUDIO_TYPE_NONE = 0;
constexpr uint8_t AUDIO_TYPE_G711A = 1;
constexpr uint8_t AUDIO_TYPE_G711U = 3;
constexpr uint8_t AUDIO_TYPE_PCM = 4;

// Audio is always 8000 samples per second on one channel.
constexpr uint32_t OmAudioSampleRate = 8000;

// No camera sends a frame near this size: a longer payload length is damaged data.
constexpr uint32_t OmMaxPayloadLength = 256u * 1024 * 1024;
constexpr uint32_t OmAudioChannels = 1;

// Resolution codes (byVideoMode).
constexpr uint8_t OmResolution_QCIF = 0;    // 176 x 144
constexpr uint8_t OmResolution_CIF = 1;     // 352 x 288
constexpr uint8_t OmResolution_D1 = 2;      // 704 x 576
constexpr uint8_t OmResolution_720P = 3;    // 1280 x 720
constexpr uint8_t OmResolution_1080P = 4;   // 1920 x 1080
constexpr uint8_t OmResolution_UXGA = 5;    // 1600 x 1200
constexpr uint8_t OmResolution_QXGA = 6;    // 2048 x 1536
constexpr uint8_t OmResolution_5M = 7;      // 2592 x 1920
constexpr uint8_t OmResolution_960P = 8;    // 1280 x 960
constexpr uint8_t OmResolution_4M = 9;      // 2592 x 1520
constexpr uint8_t OmResolutionCount = 10;

struct TOmHead {
  uint32_t INF;
  uint8_t ver;
  uint8_t mtype;
  uint16_t nCmd;
  uint32_t error;
  uint16_t sn;
  uint16_t length;
};

struct TOmVideoDataHead {
  uint8_t byVideoType;
  uint8_t byChannelID;
  uint8_t byVideoMode;
  uint8_t byReserved;
  uint8_t byFrameType;
  uint8_t byIsAckFlag;
  uint8_t byPackIndex;
  uint8_t byPackCount;
  uint32_t dwFrameID;
  uint32_t dwFrameLength;
  uint32_t dwSecTimeStamp;
  uint16_t nMiliTimeStamp;
  uint16_t nDataLength;
};

struct TOmAudioDataHead {
  uint8_t byAudioType;
  uint8_t byChannelID;
  uint8_t byIsAckFlag;
  uint8_t byPackIndex;
  uint8_t byPackCount;
  uint8_t byDataType;
  uint16_t nReserved;
  uint32_t dwFrameID;
  uint32_t dwFrameLength;
  uint32_t dwSecTimeStamp;
  uint16_t nMiliTimeStamp;
  uint16_t nDataLength;
};

struct TOmHeadInfo {
  TOmHead OmHead;
  TOmVideoDataHead OmVideoHead;
};

constexpr size_t OmHeadSize = 16;
constexpr size_t OmDataHeadSize = 24;
constexpr size_t OmHeadInfoSize = 40;
// dwFrameLength lies at this offset in both sub-heads.
constexpr size_t OmFrameLengthOffset = 12;

static_assert(sizeof(TOmHead) == OmHeadSize, "TOmHead must be 16 bytes");
static_assert(sizeof(TOmVideoDataHead) == OmDataHeadSize, "TOmVideoDataHead must be 24 bytes");
static_assert(sizeof(TOmAudioDataHead) == OmDataHeadSize, "TOmAudioDataHead must be 24 bytes");
static_assert(sizeof(TOmHeadInfo) == OmHeadInfoSize, "TOmHeadInfo must be 40 bytes");

inline uint16_t OmGetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t OmGetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void OmPutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void OmPutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Decoders from the on-disk bytes (OmHeadSize / OmDataHeadSize bytes).
TOmHead DecodeOmHead(const uint8_t* ABytes);
TOmVideoDataHead DecodeOmVideoHead(const uint8_t* ABytes);
TOmAudioDataHead DecodeOmAudioHead(const uint8_t* ABytes);
// Encoders to the on-disk bytes, used by the recording generator and the tests.
void EncodeOmHead(const TOmHead& AHead, uint8_t* ABytes);
void EncodeOmVideoHead(const TOmVideoDataHead& AHead, uint8_t* ABytes);
void EncodeOmAudioHead(const TOmAudioDataHead& AHead, uint8_t* ABytes);
