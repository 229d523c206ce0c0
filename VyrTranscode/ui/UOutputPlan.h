// What a run will write, worked out before it starts: the output folder is made when it
// is missing, and the outputs that exist already are found so that the user can be asked
// whether to replace them.
#pragma once

#include <string>

// Makes the folder APath and every missing folder above it (mode 0777 less the umask).
// True when a folder is there afterwards; otherwise AError says why, in words for the user.
bool MakeOutputFolder(const std::string& APath, std::string& AError);

// Whether the output of a recording exists already (a file, a link, or anything else under
// that name), and which name it has: AOutBaseName + ".mp4" for MP4 output; for raw output
// AOutBaseName + the extension of the recording's video codec, which a probe of the block
// heads tells. The probe runs only when a file exists under one of the names a raw output
// can have, so a folder without earlier outputs costs no probe.
bool ExistingOutputFile(const std::string& ASrcFileName, const std::string& AOutBaseName, bool AMp4,
                        std::string& AExistingName);
