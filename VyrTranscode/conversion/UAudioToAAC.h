// The audio of a recording on its way into the MP4 file: TG711Decoder expands G.711
// A-law and u-law bytes into 16-bit PCM, TAACMaker collects PCM into encoder frames and
// encodes them to raw AAC Low Complexity frames (8000 Hz, one channel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "conversion/UFAACLib.h"
#include "protocol/UOmCamProtocol.h"

// Expands G.711 bytes into signed 16-bit little-endian samples through a 256-entry table,
// built for the law of the input and rebuilt only when the law changes.
class TG711Decoder {
 public:
  TG711Decoder();

  // Decodes AInputSize code bytes into AOutData, resized to exactly 2 x AInputSize bytes
  // (one little-endian sample per byte, in order). Type 1 and 2 are A-law, every other
  // type u-law. False, with nothing changed, for a null buffer or a size of 0 or less.
  bool G711ToPCM(const uint8_t* AInputBuff, int32_t AInputSize, uint8_t AG711Type,
                 std::vector<uint8_t>& AOutData);
  // Rebuilds the table: A-law for 1, u-law for any other value.
  void ResetDecoderTable(uint8_t AG711Type);

  static int32_t alaw2linear(uint8_t a_val);
  static int32_t ulaw2linear(uint8_t u_val);

  // The law the table holds (1 A-law, 3 u-law), 255 before the first decode.
  uint8_t GetInputG711Type() const { return FInputG711Type; }

 private:
  int16_t FPcmTable[256] = {};
  uint8_t FInputG711Type = 255;
};

// AAC frames handed out by one call: the frames' bytes back to back and each one's size;
// reused from call to call so steady-state encoding allocates nothing.
struct TAACFrameList {
  std::vector<uint8_t> Bytes;
  std::vector<int32_t> Sizes;
  void Clear();
  size_t Count() const;
  void Append(const uint8_t* AData, int32_t ASize);
};

// Encodes the audio of one output file. Blocks of G.711 or PCM of any size go in; every
// AAC frame they complete comes out. At the end FlushAudio encodes the PCM still waiting
// (padded with silence) and collects the frames the encoder still holds.
class TAACMaker {
 public:
  TAACMaker();
  ~TAACMaker();
  TAACMaker(const TAACMaker&) = delete;
  TAACMaker& operator=(const TAACMaker&) = delete;

  // Opens and configures the encoder (an open one is closed first). True when it is open
  // and configured.
  bool StartAACEncode();
  // Closes the encoder and frees the G.711 decoder; any number of times. PCM still waiting
  // is dropped: call FlushAudio first to keep it.
  void CloseAACEncode();
  // Every AAC frame the block completes goes into AOutFrames (cleared first); true when
  // at least one came out. A block of any size is taken whole. AInputEncType 4 is PCM,
  // any other code G.711 (1 and 2 A-law, the rest u-law). False for a closed or flushed
  // encoder, a null buffer or a size of 0 or less; the encoder looks one frame ahead, so
  // the first completed frame yields no output yet.
  bool EncodeAudio(const uint8_t* AInputBuff, int32_t AInputSize, uint8_t AInputEncType,
                   TAACFrameList& AOutFrames);
  // End of the audio: pads the waiting PCM with silence to a whole frame, encodes it,
  // drains the encoder's delayed frames into AOutFrames (cleared first). True when at
  // least one frame came out. The encoder then takes no more input until it is started
  // again.
  bool FlushAudio(TAACFrameList& AOutFrames);
  // The AudioSpecificConfig for the MP4 audio track (0x15 0x88). False when closed.
  bool GetDecoderSpecificInfo(std::vector<uint8_t>& AInfo);
  // Priming samples the encoder puts in front of the audio (1024), as of the last start
  // (still known after the encoder closed); 0 before the first start.
  int32_t GetEncoderDelay() const;
  // PCM samples taken in since the encoder last started (padding not counted; still
  // known after the encoder closed).
  int64_t GetInputSampleCount() const;

  // PCM bytes waiting for the next frame (always less than one frame).
  int32_t GetPcmWaiting() const;
  // Frames handed to the encoder since it opened (the padded last frame included).
  int64_t GetEncodedFrameCount() const;
  bool IsOpen() const;

  // The encoder's lock; EncodeAudio holds it for the whole block. The lock may be taken
  // again by the thread that holds it.
  void LockEncode();
  void UnLockEncode();

 private:
  class TEncodeLock;
  // Appends PCM bytes, encoding every frame they complete.
  void AppendPcm(const uint8_t* APcm, size_t ASize, TAACFrameList& AOutFrames);
  // Encodes one frame of FPcmFrameSize PCM bytes.
  void EncodePcmFrame(const uint8_t* APcm, TAACFrameList& AOutFrames);

  TFaacEncHandlePtr FEncoderHndl;
  std::vector<uint8_t> FPcmInBuff;
  std::vector<uint8_t> FAACOutBuff;
  uint32_t FSampleRate = 0;
  uint32_t FInputSamples = 0;
  uint32_t FMaxOutputBytes = 0;
  int32_t FPcmFrameSize = 0;
  int32_t FPcmInputSize = 0;
  uint32_t FNumChannels = 0;
  mutable std::recursive_mutex FCsEncode;
  std::unique_ptr<TG711Decoder> FG711Decoder;

  std::vector<uint8_t> FPcmPiece;      // one decoded piece of a G.711 block
  std::vector<int16_t> FFrameSamples;  // one frame of samples for the encoder
  int32_t FEncoderDelay = 0;
  int64_t FPcmBytesTaken = 0;
  int64_t FFramesEncoded = 0;
  bool FFlushed = false;
};
