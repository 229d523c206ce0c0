// The hand-over message of a second start: its layout, the limits a receiver holds it to,
// every cut of a valid message, and the split of many names into messages.
#include <gtest/gtest.h>

#include "ui/UHandOver.h"

namespace {

std::string U32(uint32_t AValue) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((AValue >> (8 * i)) & 0xFF));
  return s;
}

std::string Message(uint32_t AVersion, const std::vector<std::string>& ANames) {
  std::string s = "VYRH" + U32(AVersion) + U32(static_cast<uint32_t>(ANames.size()));
  for (const std::string& n : ANames) s += U32(static_cast<uint32_t>(n.size())) + n;
  return s;
}

}  // namespace

TEST(HandOverMessage, LayoutIsMagicVersionCountAndLengthPrefixedNames) {
  // Names are bytes: not UTF-8, spaces and line breaks go through unchanged.
  const std::vector<std::string> names = {"/rec/a.vyr", std::string("/rec/\xff\xfe odd\nname.vyr"), "/b.VYR"};
  const std::string bytes = EncodeHandOver(names);
  EXPECT_EQ(bytes, Message(1, names));
  std::vector<std::string> decoded;
  EXPECT_EQ(DecodeHandOver(bytes, decoded), THandOverDecode::Complete);
  EXPECT_EQ(decoded, names);
  // No names: a plain request to come forward.
  EXPECT_EQ(DecodeHandOver(EncodeHandOver({}), decoded), THandOverDecode::Complete);
  EXPECT_TRUE(decoded.empty());
}

TEST(HandOverMessage, EveryCutOfAValidMessageAsksForMore) {
  const std::string bytes = EncodeHandOver({"/rec/one.vyr", "/rec/two.vyr"});
  std::vector<std::string> names;
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_EQ(DecodeHandOver(std::string_view(bytes.data(), n), names), THandOverDecode::NeedMore) << n;
}

TEST(HandOverMessage, WhatAReceiverRefuses) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    THandOverDecode Expected;
  };
  const std::string longest(VYR_HANDOVER_MAX_NAME, 'n');
  const TCase cases[] = {
      {"another magic", "VYRX" + U32(1) + U32(0), THandOverDecode::Invalid},
      {"a wrong first byte alone", "X", THandOverDecode::Invalid},
      {"the old one-byte request", "A", THandOverDecode::Invalid},
      {"version 2", Message(2, {"/a.vyr"}), THandOverDecode::UnknownVersion},
      {"version 0", "VYRH" + U32(0), THandOverDecode::UnknownVersion},
      {"an empty name", "VYRH" + U32(1) + U32(1) + U32(0), THandOverDecode::Invalid},
      {"a NUL byte in a name", Message(1, {std::string("/a\0b.vyr", 8)}), THandOverDecode::Invalid},
      {"a name over the limit", "VYRH" + U32(1) + U32(1) + U32(VYR_HANDOVER_MAX_NAME + 1), THandOverDecode::Invalid},
      {"a length of 4 GiB", "VYRH" + U32(1) + U32(1) + U32(0xFFFFFFFFu), THandOverDecode::Invalid},
      {"more names than a message can hold", "VYRH" + U32(1) + U32(0x7FFFFFFF), THandOverDecode::Invalid},
      {"names past the message limit", Message(1, {longest, longest, "/x.vyr"}), THandOverDecode::Invalid},
      {"the longest name", Message(1, {longest}), THandOverDecode::Complete},
  };
  for (const TCase& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(DecodeHandOver(c.Bytes, names), c.Expected) << c.Name;
    if (c.Expected != THandOverDecode::Complete) {
      EXPECT_TRUE(names.empty()) << c.Name;
    }
  }
}

TEST(HandOverMessage, ManyNamesAreSplitIntoMessagesThatFitInOrder) {
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) names.push_back("/recordings/" + std::string(500, 'a' + i % 26) + std::to_string(i) + ".vyr");
  std::vector<std::string> refused;
  const auto groups = SplitHandOver(names, &refused);
  EXPECT_TRUE(refused.empty());
  ASSERT_GT(groups.size(), 1u);
  std::vector<std::string> joined;
  for (const auto& g : groups) {
    const std::string bytes = EncodeHandOver(g);
    EXPECT_LE(bytes.size(), VYR_HANDOVER_MAX_BYTES);
    std::vector<std::string> decoded;
    ASSERT_EQ(DecodeHandOver(bytes, decoded), THandOverDecode::Complete);
    joined.insert(joined.end(), decoded.begin(), decoded.end());
  }
  EXPECT_EQ(joined, names);
}

TEST(HandOverMessage, NamesNoMessageCanHoldAreRefusedNotDropped) {
  const std::string tooLong(VYR_HANDOVER_MAX_NAME + 1, 'x');
  std::vector<std::string> refused;
  const auto groups = SplitHandOver({"/a.vyr", tooLong, "", std::string("/b\0.vyr", 7), "/c.vyr"}, &refused);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0], (std::vector<std::string>{"/a.vyr", "/c.vyr"}));
  EXPECT_EQ(refused.size(), 3u);
  // Nothing at all: one empty message, which only asks the window to come forward.
  const auto none = SplitHandOver({});
  ASSERT_EQ(none.size(), 1u);
  EXPECT_TRUE(none[0].empty());
}
