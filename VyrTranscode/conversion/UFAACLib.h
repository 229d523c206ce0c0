// The AAC encoder library binding: the calls of a frame-based AAC encoder (open with the
// input samples per frame and the largest output frame, current and new configuration,
// encode one frame of 16-bit PCM, decoder-specific info, close), implemented on the
// native AAC encoder of libavcodec. This unit is the only one that includes libavcodec's
// headers for audio.
//
// Only AAC Low Complexity is produced, as raw frames without ADTS headers. A handle is
// used by one thread at a time; the binding takes no lock of its own.
#pragma once

#include <cstdint>
#include <memory>

// Object types.
constexpr unsigned int FAAC_OBJTYPE_MAIN = 1;
constexpr unsigned int FAAC_OBJTYPE_LOW = 2;
// MPEG versions (they only name the stream; raw frames are the same for both).
constexpr unsigned int FAAC_MPEG4 = 0;
constexpr unsigned int FAAC_MPEG2 = 1;
// Input formats: only 16-bit signed PCM in host order is taken.
constexpr unsigned int FAAC_INPUT_NULL = 0;
constexpr unsigned int FAAC_INPUT_16BIT = 1;
// Output formats: only raw frames are written.
constexpr unsigned int FAAC_OUTPUT_RAW = 0;
constexpr unsigned int FAAC_OUTPUT_ADTS = 1;

// Version of this configuration record.
constexpr int FAAC_CFG_VERSION = 1;

// Bit rate per channel used unless the configuration sets another one. At 8000 Hz the
// encoder's band limit follows the bit rate; from about 20 kbit/s on it keeps the whole
// 4 kHz band that 8 kHz speech has, and 24 kbit/s leaves headroom for the transients of
// speech without narrowing the band. See the quality test of the AAC maker.
constexpr unsigned long FAAC_DEFAULT_BITRATE = 24000;
// Bit rates per channel that the configuration accepts.
constexpr unsigned long FAAC_MIN_BITRATE = 8000;
constexpr unsigned long FAAC_MAX_BITRATE = 256000;

// The configuration of an open encoder. Read it with faacEncGetCurrentConfiguration,
// change fields and hand it back with faacEncSetConfiguration.
struct TFaacEncConfiguration {
  int version = FAAC_CFG_VERSION;      // read only
  unsigned int mpegVersion = FAAC_MPEG4;
  unsigned int aacObjectType = FAAC_OBJTYPE_LOW;
  unsigned int useTns = 1;             // temporal noise shaping
  unsigned long bitRate = FAAC_DEFAULT_BITRATE;  // per channel, bits per second
  unsigned int bandWidth = 0;          // highest coded frequency in Hz; 0: the encoder decides
  unsigned long quantqual = 0;         // 0: the encoder runs at bitRate (no fixed quality)
  unsigned int outputFormat = FAAC_OUTPUT_RAW;
  unsigned int inputFormat = FAAC_INPUT_16BIT;
};

struct TFaacEncoder;
using faacEncHandle = TFaacEncoder*;

// Opens an encoder for ASampleRate samples per second on ANumChannels channels (1 or 2).
// AInputSamples receives the samples per frame over all channels (1024 per channel),
// AMaxOutputBytes the largest frame the encoder writes. Null on failure (unsupported
// rate or channel count, encoder missing from libavcodec).
faacEncHandle faacEncOpen(unsigned long ASampleRate, unsigned int ANumChannels,
                          unsigned long* AInputSamples, unsigned long* AMaxOutputBytes);

// The handle's configuration record, valid until faacEncClose; null for a null handle.
TFaacEncConfiguration* faacEncGetCurrentConfiguration(faacEncHandle AHandle);

// Applies a configuration: 1 when it was taken, 0 when a value is not supported (another
// object type, input or output format, a quality instead of a bit rate, a bit rate out of
// range) or the encoder could not be set up with it; the previous configuration then
// stays in force. Only valid before the first faacEncEncode.
int faacEncSetConfiguration(faacEncHandle AHandle, const TFaacEncConfiguration* AConfig);

// Encodes one frame. ASamplesInput is the input samples per frame as faacEncOpen
// reported; fewer are padded with silence (a last, short frame). ASamplesInput 0 drains
// the encoder: call it until it returns 0 to collect the frames it still holds; after
// that it takes no more input. Returns the bytes written to AOutputBuffer (0 when no
// frame is ready yet, since the encoder looks one frame ahead), or a negative value on
// failure (the buffer is too small, more samples than a frame, an encoder error).
int faacEncEncode(faacEncHandle AHandle, const int16_t* AInputBuffer, unsigned int ASamplesInput,
                  uint8_t* AOutputBuffer, unsigned int ABufferSize);

// The AudioSpecificConfig of the stream (2 bytes for AAC LC, e.g. 0x15 0x88 at 8000 Hz
// mono). *ABuffer points into the handle and stays valid until faacEncClose. 0 on
// success, -1 for a null handle or null arguments.
int faacEncGetDecoderSpecificInfo(faacEncHandle AHandle, unsigned char** ABuffer,
                                  unsigned long* ASizeOfDecoderSpecificInfo);

// Samples the encoder puts in front of the audio (priming); they are decoded as silence
// and an MP4 edit list skips them. 0 for a null handle.
int faacEncGetDelay(faacEncHandle AHandle);

// Frees the encoder; a null handle is ignored. Returns 0.
int faacEncClose(faacEncHandle AHandle);

// Owns an encoder handle and closes it when it goes.
struct TFaacEncClose {
  void operator()(faacEncHandle AHandle) const { faacEncClose(AHandle); }
};
using TFaacEncHandlePtr = std::unique_ptr<TFaacEncoder, TFaacEncClose>;
