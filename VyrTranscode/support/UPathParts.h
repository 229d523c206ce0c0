// The parts of a path, split at its last "/".
#pragma once

#include <string>

// The file name part: the text after the last "/", the whole text when there is none.
inline std::string FileNamePart(const std::string& APath) {
  const size_t slash = APath.rfind('/');
  return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

// The folder part: the text before the last "/"; "/" for a name in the root, "." when there
// is no "/". "/out/cam1" gives "/out".
inline std::string FolderPart(const std::string& APath) {
  const size_t slash = APath.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return APath.substr(0, slash);
}
