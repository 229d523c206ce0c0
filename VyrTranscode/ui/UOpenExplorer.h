// Opening a path with the desktop's default handler (a folder in the file manager).
#pragma once

#include <string>

// The outcome is not checked.
void OpenWindowsExplorer(const std::string& sPath);
