// The per-user private folder that holds the single-instance lock file and the local
// sockets of the desktop program. The first of these that works is used:
//   1. "$XDG_RUNTIME_DIR/VyrTranscode", when that variable names a folder of the user that
//      nobody else can write to;
//   2. "$HOME/.cache/VyrTranscode/run" (the home folder from the password database when
//      HOME is not set).
// Both are created with mode 0700 and used only when they are real folders (not links) of
// the user that nobody else can enter; a candidate whose socket paths would not fit a local
// socket address is passed over. Every start of the same user with the same environment
// finds the same folder, so the program, a second start and tools/vyrmsg meet there. Other
// users cannot claim the fallback first: it lies inside the user's own home folder.
#pragma once

#include <cstddef>
#include <string>

// The longest file name the program keeps in the folder ("VyrMp4MsgProc" and the other
// socket and lock names are shorter); a folder is used only when such a name still fits a
// local socket address.
constexpr size_t VYR_RUNTIME_NAME_MAX = 16;

// The folder with a trailing "/", created when missing; empty text when no safe folder can
// be had. AProblem (when given) then receives why each candidate was refused, in one line.
std::string GetUserRuntimeDir(std::string* AProblem = nullptr);

// The full path of a lock or socket file with the given name in that folder; empty text
// when the folder cannot be had or the name is longer than VYR_RUNTIME_NAME_MAX.
std::string UserRuntimeFile(const std::string& AName);
