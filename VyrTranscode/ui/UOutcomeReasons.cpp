#include "ui/UOutcomeReasons.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "support/UPathParts.h"
#include "ui/UWindowTexts.h"

namespace {

// A reason, then the system's own words on a line of their own when there are any.
QString WithDetail(const QString& AReason, const std::string& ADetail) {
  if (ADetail.empty()) return AReason;
  return AReason + QLatin1Char('\n') + QString::fromStdString(ADetail);
}

bool Contains(const std::string& AText, int AErrno) {
  return AText.find(std::strerror(AErrno)) != std::string::npos;
}

QString OutputFailureReason(const TConversionOutcome& AOutcome) {
  const std::string folder = FolderPart(AOutcome.OutFileName);
  struct stat st {};
  if (!AOutcome.OutFileName.empty()) {
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return WithDetail(FormatText(GetLangText("sReasonOutDirMissing"), {ShownName(folder)}), AOutcome.Message);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
      return WithDetail(FormatText(GetLangText("sReasonOutDirNotWritable"), {ShownName(folder)}), AOutcome.Message);
  }
  if (Contains(AOutcome.Message, ENOSPC) || Contains(AOutcome.Message, EDQUOT))
    return WithDetail(GetLangText("sReasonDiskFull"), AOutcome.Message);
  return WithDetail(FormatText(GetLangText("sReasonOutput"), {ShownName(AOutcome.OutFileName)}), AOutcome.Message);
}

QString WriteFailureReason(const TConversionOutcome& AOutcome) {
  if (Contains(AOutcome.Message, ENOSPC) || Contains(AOutcome.Message, EDQUOT))
    return WithDetail(GetLangText("sReasonDiskFull"), AOutcome.Message);
  return WithDetail(FormatText(GetLangText("sReasonWrite"), {ShownName(AOutcome.OutFileName)}), AOutcome.Message);
}

}  // namespace

QString ShownName(const std::string& AName) { return QFile::decodeName(QByteArray::fromStdString(AName)); }

TRowVerdict JudgeOutcome(const TConversionOutcome& AOutcome, bool ARaw) {
  TRowVerdict v;
  switch (AOutcome.Status) {
    case TConversionStatus::Converted: {
      QStringList notes;
      if (AOutcome.DamagedRegions > 0)
        notes << FormatText(GetLangText("sConvertRecovered"), {QString::number(AOutcome.DamagedRegions),
                                                               QString::number(AOutcome.DamagedBytes)});
      if (!AOutcome.Warning.empty()) notes << GetLangText("sRecordEndedEarly");
      if (!notes.isEmpty()) {
        v.Mark = TRowMark::Warned;
        v.Tip = notes.join(QLatin1Char('\n'));
      }
      return v;
    }
    case TConversionStatus::Stopped:
      v.Mark = TRowMark::Stopped;
      v.Tip = AOutcome.KeptFileName.empty()
                  ? GetLangText("sStoppedNothingKept")
                  : FormatText(GetLangText("sStoppedKept"), {ShownName(AOutcome.KeptFileName)});
      return v;
    case TConversionStatus::OpenFailed:
      v.Tip = WithDetail(GetLangText("sReasonOpen"), AOutcome.Message);
      break;
    case TConversionStatus::OutputFailed:
      v.Tip = OutputFailureReason(AOutcome);
      break;
    case TConversionStatus::WriteFailed:
      v.Tip = WriteFailureReason(AOutcome);
      break;
    case TConversionStatus::NothingWritten:
      v.Tip = GetLangText(ARaw ? "sReasonNoVideo" : "sReasonNothing");
      break;
    case TConversionStatus::OutOfMemory:
      v.Tip = GetLangText("sReasonMemory");
      break;
    case TConversionStatus::NotRun:
    case TConversionStatus::Failed:
      v.Tip = WithDetail(GetLangText("sReasonFailed"), AOutcome.Message);
      break;
  }
  v.Mark = TRowMark::Failed;
  return v;
}
