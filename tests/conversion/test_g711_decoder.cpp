#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UFfmpegMedia.h"
#include "conversion/UAudioToAAC.h"

namespace {

int16_t SampleAt(const std::vector<uint8_t>& APcm, size_t AIndex) {
  return static_cast<int16_t>(static_cast<uint16_t>(APcm[2 * AIndex] | (APcm[2 * AIndex + 1] << 8)));
}

int16_t DecodeOne(TG711Decoder& ADecoder, uint8_t AType, uint8_t ACode) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(ADecoder.G711ToPCM(&ACode, 1, AType, out));
  EXPECT_EQ(out.size(), 2u);
  return out.size() == 2 ? SampleAt(out, 0) : 0;
}

struct TCodeCase {
  uint8_t Type;
  uint8_t Code;
  int16_t Value;
};

}  // namespace

TEST(G711Decoder, KnownCodesOfBothLaws) {
  const TCodeCase cases[] = {
      {AUDIO_TYPE_G711A, 0xD5, 8},     {AUDIO_TYPE_G711A, 0x55, -8},       {AUDIO_TYPE_G711A, 0x80, 5504},
      {AUDIO_TYPE_G711A, 0x00, -5504}, {AUDIO_TYPE_G711A, 0xAA, 32256},    {AUDIO_TYPE_G711A, 0x2A, -32256},
      {AUDIO_TYPE_G711U, 0xFF, 0},     {AUDIO_TYPE_G711U, 0x7F, 0},        {AUDIO_TYPE_G711U, 0x80, 32124},
      {AUDIO_TYPE_G711U, 0x00, -32124}, {AUDIO_TYPE_G711U, 0xD5, 716},
  };
  TG711Decoder d;
  for (const TCodeCase& c : cases) {
    EXPECT_EQ(DecodeOne(d, c.Type, c.Code), c.Value) << "type " << int(c.Type) << " code " << int(c.Code);
    int32_t direct = c.Type == AUDIO_TYPE_G711A ? TG711Decoder::alaw2linear(c.Code) : TG711Decoder::ulaw2linear(c.Code);
    EXPECT_EQ(direct, c.Value);
  }
}

TEST(G711Decoder, TypeCodesOneAndTwoAreALawEverythingElseULaw) {
  // 0xD5 tells the laws apart: 8 in A-law, 716 in u-law.
  const std::pair<uint8_t, int16_t> cases[] = {{1, 8}, {2, 8}, {3, 716}, {0, 716}, {4, 716}, {5, 716}, {255, 716}};
  for (const auto& c : cases) {
    TG711Decoder d;
    EXPECT_EQ(DecodeOne(d, c.first, 0xD5), c.second) << "type " << int(c.first);
    EXPECT_EQ(d.GetInputG711Type(), c.second == 8 ? AUDIO_TYPE_G711A : AUDIO_TYPE_G711U);
  }
}

TEST(G711Decoder, TableIsRebuiltOnlyWhenTheLawChanges) {
  TLogCapture log;
  TG711Decoder d;
  EXPECT_EQ(d.GetInputG711Type(), 255);
  DecodeOne(d, AUDIO_TYPE_G711A, 0x12);
  DecodeOne(d, AUDIO_TYPE_G711U, 0x12);
  DecodeOne(d, AUDIO_TYPE_G711U, 0x34);
  DecodeOne(d, 5, 0x34);  // another u-law code: no rebuild
  std::vector<std::string> expected = {"Reset G711 Decoder Table: 1", "Reset G711 Decoder Table: 3"};
  EXPECT_EQ(log.Lines(), expected);
}

TEST(G711Decoder, OutputIsTwoBytesPerInputByteLittleEndian) {
  TG711Decoder d;
  std::vector<uint8_t> in(160, 0x80), out(7, 0xEE);
  ASSERT_TRUE(d.G711ToPCM(in.data(), static_cast<int32_t>(in.size()), AUDIO_TYPE_G711U, out));
  EXPECT_EQ(out.size(), 320u);
  const uint8_t pair[] = {0x80, 0xFF};
  ASSERT_TRUE(d.G711ToPCM(pair, 2, AUDIO_TYPE_G711U, out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x7C, 0x7D, 0x00, 0x00}));
}

TEST(G711Decoder, NothingToDecodeChangesNothing) {
  TLogCapture log;
  TG711Decoder d;
  const uint8_t byte = 0x55;
  const std::vector<uint8_t> before = {1, 2, 3};
  std::vector<uint8_t> out = before;
  EXPECT_FALSE(d.G711ToPCM(nullptr, 10, AUDIO_TYPE_G711A, out));
  EXPECT_FALSE(d.G711ToPCM(&byte, 0, AUDIO_TYPE_G711A, out));
  EXPECT_FALSE(d.G711ToPCM(&byte, -1, AUDIO_TYPE_G711A, out));
  EXPECT_EQ(out, before);
  EXPECT_EQ(d.GetInputG711Type(), 255);
  EXPECT_TRUE(log.Lines().empty());
  // And after a table exists, a refused call keeps it.
  DecodeOne(d, AUDIO_TYPE_G711A, 0x55);
  EXPECT_FALSE(d.G711ToPCM(&byte, 0, AUDIO_TYPE_G711U, out));
  EXPECT_EQ(d.GetInputG711Type(), AUDIO_TYPE_G711A);
}

// All 256 codes of each law against FFmpeg's own G.711 decoders.
TEST(G711Decoder, WholeTablesMatchAnIndependentDecoder) {
  std::vector<uint8_t> codes(256);
  for (int i = 0; i < 256; ++i) codes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  for (bool alaw : {true, false}) {
    SCOPED_TRACE(alaw ? "A-law" : "u-law");
    std::vector<int16_t> reference;
    std::string error;
    ASSERT_TRUE(FfmpegDecodeG711(codes, alaw, reference, error)) << error;
    ASSERT_EQ(reference.size(), 256u);
    TG711Decoder d;
    std::vector<uint8_t> pcm;
    ASSERT_TRUE(d.G711ToPCM(codes.data(), 256, alaw ? AUDIO_TYPE_G711A : AUDIO_TYPE_G711U, pcm));
    ASSERT_EQ(pcm.size(), 512u);
    for (size_t c = 0; c < 256; ++c) EXPECT_EQ(SampleAt(pcm, c), reference[c]) << "code " << c;
  }
}

TEST(G711Decoder, ResultsStayInsideTheLawsRanges) {
  for (int c = 0; c < 256; ++c) {
    int32_t a = TG711Decoder::alaw2linear(static_cast<uint8_t>(c));
    int32_t u = TG711Decoder::ulaw2linear(static_cast<uint8_t>(c));
    EXPECT_GE(std::abs(a), 8);
    EXPECT_LE(std::abs(a), 32256);
    EXPECT_LE(std::abs(u), 32124);
  }
}
