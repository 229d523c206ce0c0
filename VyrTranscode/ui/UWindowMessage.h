// The window message "VyrMp4MsgProc" between another program and the desktop program, over
// a per-user local socket of that name in the user's runtime folder (a folder only the user
// can enter). A message is 16 bytes: WParam and LParam, each a signed 64-bit little-endian
// integer. The program answers a query (101) with 102 on the asking connection while a
// conversion runs and sends nothing when idle; 103 makes it close.
//
// This unit has no GUI toolkit: the program's server is in UWindowMessageServer, and the
// client below serves tools/vyrmsg and the tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr const char* VYR_MP4_MSG_NAME = "VyrMp4MsgProc";
// The socket through which a second start asks the running window to come forward.
constexpr const char* VYR_ACTIVATION_NAME = "TFmVyrToMp4";
// The single-instance lock.
constexpr const char* VYR_INSTANCE_LOCK_NAME = "FmVyrToMp4";

constexpr int64_t VYR_MSG_QUERY = 101;
constexpr int64_t VYR_MSG_BUSY = 102;
constexpr int64_t VYR_MSG_CLOSE = 103;
constexpr size_t VYR_MSG_SIZE = 16;

struct TWindowMessage {
  int64_t WParam = 0;
  int64_t LParam = 0;
  bool operator==(const TWindowMessage& A) const { return WParam == A.WParam && LParam == A.LParam; }
};

std::array<uint8_t, VYR_MSG_SIZE> EncodeWindowMessage(const TWindowMessage& AMsg);
// Reads one message from exactly VYR_MSG_SIZE bytes.
TWindowMessage DecodeWindowMessage(const uint8_t* ABytes);

// The number under which the message is known inside the program (the log shows it): a
// stable value in the range of registered messages (0xC000 to 0xFFFF) derived from the name.
uint32_t RegisterWindowMessageId(const std::string& AName);

enum class TSendResult {
  Sent,          // delivered; replies (if any) are in AReplies
  NoInstance,    // no program listens
  Failed,        // the socket folder or the connection failed
};

// Sends all ASize bytes on a connected socket (a closed peer raises no SIGPIPE). False when
// the connection fails.
bool SendAllOnSocket(int AFd, const void* AData, size_t ASize);

// Connects to the local socket AName in the user's runtime folder. Answers the connected
// descriptor (the caller closes it), or -1 with ANoListener telling whether nobody listens.
int ConnectUserSocket(const std::string& AName, bool& ANoListener);

// Connects to the program's "VyrMp4MsgProc" socket, sends one message and collects the
// messages that come back until the program closes the connection or AWaitMs pass.
TSendResult SendWindowMessage(const TWindowMessage& AMsg, int AWaitMs,
                              std::vector<TWindowMessage>& AReplies);
