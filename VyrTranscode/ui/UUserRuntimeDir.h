// The per-user private folder that holds the single-instance lock file and the local
// sockets of the desktop program: "$XDG_RUNTIME_DIR/VyrTranscode" when that variable names
// a folder, else "<temp>/VyrTranscode-<uid>". The folder is created with mode 0700 and
// used only when it belongs to the user and nobody else can enter it.
#pragma once

#include <string>

// The folder with a trailing "/", created when missing; empty text when no safe folder can
// be had (for example a folder of that name owned by someone else).
std::string GetUserRuntimeDir();

// The full path of a lock or socket file with the given name in that folder; empty text
// when the folder cannot be had.
std::string UserRuntimeFile(const std::string& AName);
