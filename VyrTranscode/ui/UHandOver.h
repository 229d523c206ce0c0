// The hand-over from a second start to the running window: the files given to the second
// start travel over the activation socket "TFmVyrToMp4" in versioned messages, and the
// running window lists them and comes forward. A message without names only asks the
// window to come forward.
//
// A message, all integers unsigned 32-bit little-endian:
//   "VYRH"                      magic
//   version                     VYR_HANDOVER_VERSION
//   count                       number of names that follow
//   count x (length, bytes)     each name: file-system bytes, 1 to VYR_HANDOVER_MAX_NAME
//                               bytes, no NUL byte
// A message is at most VYR_HANDOVER_MAX_BYTES long; more names go in further messages, one
// connection each, in order. The window answers one byte per message: '1' when it took the
// message, '0' when it refused it (a malformed message or a version it does not know).
//
// This unit has no GUI toolkit: the window's side is TActivationServer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t VYR_HANDOVER_VERSION = 1;
constexpr size_t VYR_HANDOVER_HEAD_BYTES = 12;
constexpr size_t VYR_HANDOVER_MAX_BYTES = 64 * 1024;
constexpr size_t VYR_HANDOVER_MAX_NAME = 32 * 1024;
constexpr char VYR_HANDOVER_TAKEN = '1';
constexpr char VYR_HANDOVER_REFUSED = '0';

// One message holding ANames (the caller keeps within VYR_HANDOVER_MAX_BYTES; see
// SplitHandOver).
std::string EncodeHandOver(const std::vector<std::string>& ANames);

// ANames in groups that each fit one message, in order. A name that no message can hold
// (empty, longer than VYR_HANDOVER_MAX_NAME or holding a NUL byte) is left out and put
// into ARefused. No names at all give one empty group (a plain request to come forward).
std::vector<std::vector<std::string>> SplitHandOver(const std::vector<std::string>& ANames,
                                                    std::vector<std::string>* ARefused = nullptr);

enum class THandOverDecode {
  NeedMore,        // a valid beginning: more bytes are needed
  Complete,        // one whole message; ANames holds its names
  Invalid,         // not a message of this kind, or beyond the limits
  UnknownVersion,  // a message of another version
};

// Reads one message from the start of AData; bounded work, nothing allocated beyond the
// names of a valid message.
THandOverDecode DecodeHandOver(std::string_view AData, std::vector<std::string>& ANames);

enum class THandOverResult {
  Delivered,   // the running window took every message
  NoInstance,  // nobody listened within the retry time
  Refused,     // the window refused a message
  Failed,      // a connection broke, or no answer came in time
};

// The second start's side: connects to the running window's activation socket, retrying
// for up to ARetryMs while nobody listens yet (the first instance may still be starting),
// then sends the names in as many messages as needed, waiting up to AAnswerMs for each
// answer. Names that no message can hold are not sent and count as a failure (ARefused
// receives them).
THandOverResult HandOverToRunningInstance(const std::vector<std::string>& ANames, int ARetryMs, int AAnswerMs,
                                          std::vector<std::string>* ARefused = nullptr);
