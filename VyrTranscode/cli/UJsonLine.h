// vyrconvert --json: one JSON object per file, on one line.
#pragma once

#include <cstdint>
#include <string>

// A JSON string literal of AText: quotes, backslashes and control characters escaped, and every
// byte that is not part of a valid UTF-8 character written as \ufffd.
std::string JsonString(const std::string& AText);

// The bytes of AText as lower-case hex digits.
std::string HexBytes(const std::string& AText);

// Builds one object: keys in the order they are added.
class TJsonObject {
 public:
  TJsonObject& Add(const std::string& AKey, const std::string& AValue);
  TJsonObject& Add(const std::string& AKey, int64_t AValue);
  TJsonObject& Add(const std::string& AKey, double AValue, int ADecimals);
  std::string Text() const { return "{" + FBody + "}"; }

 private:
  void Key(const std::string& AKey);
  std::string FBody;
};
