#include "conversion/URawExport.h"

#include <exception>

#include "conversion/URecordBlocks.h"
#include "conversion/URecordProbe.h"
#include "protocol/UOmCamProtocol.h"
#include "support/uFunctionsLib.h"

namespace {

int ProgressOf(int64_t APosition, int64_t ASize) {
  if (ASize <= 0 || APosition >= ASize) return 100;
  if (APosition <= 0) return 0;
  // 64-bit arithmetic: exact for files up to 92 PB.
  return static_cast<int>((APosition * 100) / ASize);
}

TConversionOutcome RunRawExport(const std::string& ASrcFileName, const std::string& AOutFileName,
                                const std::atomic<bool>* AAbort, std::atomic<int>& AProgress) {
  TConversionOutcome outcome;
  std::unique_ptr<TStream> stream = TVyrRecordProbe::OpenVYRRecord(ASrcFileName, &outcome.Message);
  if (!stream) {
    PrintDebugString("Raw export: cannot open the record file " + ASrcFileName);
    outcome.Status = TConversionStatus::OpenFailed;
    return outcome;
  }
  TVyrRecordProbe probe;
  if (!probe.GetVideoInfo(stream.get())) {
    TVyrRecordProbe::CloseVYRRecord(stream);
    outcome.Status = TConversionStatus::OpenFailed;
    return outcome;
  }
  outcome.OutFileName = AOutFileName + GetRawStreamExtension(probe.FVideoEncType);
  // The output may not replace the record file itself (checked again at the rename).
  std::unique_ptr<TFileWriter> out = TFileWriter::Create(outcome.OutFileName, stream->Identity(), &outcome.Message);
  if (!out) {
    PrintDebugString("Raw export: cannot create " + outcome.OutFileName);
    TVyrRecordProbe::CloseVYRRecord(stream);
    outcome.Status = TConversionStatus::OutputFailed;
    return outcome;
  }

  TRawWalkResult walk = WalkRecordToRaw(*stream, *out, &AProgress, AAbort);
  // A failed write removes the file; an export ended by the program's exit is kept as a
  // stopped output; a recording without video leaves its empty file.
  bool closed = out->Close(walk.WriteFailed ? TOutputCloseMode::Discard
                           : walk.Aborted   ? TOutputCloseMode::Stopped
                                            : TOutputCloseMode::Finish);
  outcome.KeptFileName = out->KeptFileName();
  const bool endedEarly = stream->EndedEarly();
  TVyrRecordProbe::CloseVYRRecord(stream);

  outcome.VideoFrames = walk.VideoPayloads;
  outcome.BytesWritten = walk.BytesWritten;
  outcome.DamagedRegions = walk.DamagedRegions;
  outcome.DamagedBytes = walk.DamagedBytes;
  if (walk.CutShort)
    PrintDebugString("Raw export: the last video payload is cut short by the end of " + ASrcFileName);
  if (walk.WriteFailed || !closed) {
    PrintDebugString("Raw export: writing failed: " + outcome.OutFileName);
    outcome.Status = TConversionStatus::WriteFailed;
    outcome.Message = out->CloseError();
  } else if (walk.Aborted) {
    outcome.Status = TConversionStatus::Stopped;
  } else if (walk.BytesWritten == 0) {
    outcome.Status = TConversionStatus::NothingWritten;
  } else {
    outcome.Status = TConversionStatus::Converted;
  }
  if (endedEarly && outcome.Succeeded()) outcome.Warning = RecordEndedEarlyWarning;
  PrintDebugString("Finished raw export: " + outcome.OutFileName +
                   FormatStr(", payloads[%lld], bytes[%lld]", static_cast<long long>(walk.VideoPayloads),
                             static_cast<long long>(walk.BytesWritten)));
  return outcome;
}

}  // namespace

std::string GetRawStreamExtension(uint8_t AVideoEncType) {
  switch (AVideoEncType) {
    case OmVideoType_H264: return ".H264";
    case OmVideoType_MJPEG: return ".MJPG";
    case OmVideoType_H265: return ".H265";
    default: return "";
  }
}

TRawWalkResult WalkRecordToRaw(TStream& ASource, TFileWriter& AOut, std::atomic<int>* AProgress,
                               const std::atomic<bool>* AAbort) {
  TRawWalkResult result;
  TRecordBlockReader reader(ASource);
  TOmBlock block;
  TOmDamage damage;
  for (TOmReadItem item; (item = reader.Next(block, damage)) != TOmReadItem::End;) {
    if (AAbort && AAbort->load()) {
      result.Aborted = true;
      break;
    }
    if (item == TOmReadItem::Block && block.IsVideo()) {
      // A cut last payload: the bytes that are there are written and the walk ends.
      const uint32_t length = block.AvailableLength(reader.Size());
      uint64_t copied = 0;
      ASource.Seek(block.PayloadOffset, TSeekOrigin::Begin);
      const bool whole = AOut.CopyFrom(ASource, length, &copied);
      ++result.VideoPayloads;
      result.BytesWritten += static_cast<int64_t>(copied);
      if (!whole) {
        result.WriteFailed = AOut.Failed();
        result.CutShort = !result.WriteFailed;
        break;
      }
      if (block.Cut) {
        result.CutShort = true;
        break;
      }
    }
    if (AProgress) AProgress->store(ProgressOf(reader.Position(), reader.Size()));
  }
  result.DamagedRegions = reader.DamagedRegions();
  result.DamagedBytes = reader.DamagedBytes();
  return result;
}

void ExecRecordToRawFile(const std::string& ASrcFileName, const std::string& AOutFileName,
                         std::atomic<int>& AProgress, TConversionOutcome* AOutcome,
                         const std::atomic<bool>* AAbort) {
  AProgress.store(0);
  TConversionOutcome outcome;
  try {
    outcome = RunRawExport(ASrcFileName, AOutFileName, AAbort, AProgress);
  } catch (const std::exception& e) {
    PrintDebugString(std::string("Raw export failed: ") + e.what());
    outcome.Status = TConversionStatus::WriteFailed;
  } catch (...) {
    PrintDebugString("Raw export failed");
    outcome.Status = TConversionStatus::WriteFailed;
  }
  // The outcome is in place before the end mark: whoever sees 101 may read it.
  if (AOutcome) *AOutcome = outcome;
  AProgress.store(101);
}
