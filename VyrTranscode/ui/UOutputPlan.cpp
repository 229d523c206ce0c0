#include "ui/UOutputPlan.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "conversion/URawExport.h"
#include "conversion/URecordProbe.h"

namespace {

bool Exists(const std::string& AName) {
  struct stat st {};
  return ::lstat(AName.c_str(), &st) == 0;
}

bool IsFolder(const std::string& APath) {
  struct stat st {};
  return ::stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool MakeOutputFolder(const std::string& APath, std::string& AError) {
  if (APath.empty()) {
    AError = "no folder was given";
    return false;
  }
  if (IsFolder(APath)) return true;
  for (size_t at = 1; at <= APath.size(); ++at) {
    if (at < APath.size() && APath[at] != '/') continue;
    const std::string part = APath.substr(0, at);
    if (IsFolder(part)) continue;
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      AError = std::strerror(errno);
      return false;
    }
    if (!IsFolder(part)) {
      AError = part + " exists and is not a folder";
      return false;
    }
  }
  return true;
}

bool ExistingOutputFile(const std::string& ASrcFileName, const std::string& AOutBaseName, bool AMp4,
                        std::string& AExistingName) {
  AExistingName.clear();
  if (AMp4) {
    if (!Exists(AOutBaseName + ".mp4")) return false;
    AExistingName = AOutBaseName + ".mp4";
    return true;
  }
  // The names a raw output can have: one per codec with an extension, and the base name
  // alone for the others.
  bool any = Exists(AOutBaseName);
  for (uint8_t codec = 0; codec < 8 && !any; ++codec) {
    const std::string ext = GetRawStreamExtension(codec);
    if (!ext.empty() && Exists(AOutBaseName + ext)) any = true;
  }
  if (!any) return false;
  std::unique_ptr<TStream> stream = TVyrRecordProbe::OpenVYRRecord(ASrcFileName);
  if (!stream) return false;  // the run reports the recording as unreadable
  TVyrRecordProbe probe;
  probe.GetVideoInfo(stream.get());
  TVyrRecordProbe::CloseVYRRecord(stream);
  const std::string name = AOutBaseName + GetRawStreamExtension(probe.FVideoEncType);
  if (!Exists(name)) return false;
  AExistingName = name;
  return true;
}
