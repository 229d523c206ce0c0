#include "conversion/UMp4Boxes.h"

#include <algorithm>
#include <cstring>

#include "conversion/UH264Syntax.h"

// ---- TBoxWriter --------------------------------------------------------------------

int64_t TBoxWriter::BeginBox(const char* AType) {
  int64_t start = FOut.Position();
  U32(0);
  FourCC(AType);
  return start;
}

int64_t TBoxWriter::BeginFullBox(const char* AType, uint8_t AVersion, uint32_t AFlags) {
  int64_t start = BeginBox(AType);
  U8(AVersion);
  U24(AFlags);
  return start;
}

void TBoxWriter::EndBox(int64_t AStart) {
  int64_t size = FOut.Position() - AStart;
  if (size < 8 || size > int64_t{UINT32_MAX}) {
    FFailed = true;
    return;
  }
  uint8_t be[4] = {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                   static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
  if (!FOut.WriteAt(AStart, be, 4)) FFailed = true;
}

void TBoxWriter::U8(uint8_t AValue) { FOut.Write(&AValue, 1); }

void TBoxWriter::U16(uint16_t AValue) {
  uint8_t be[2] = {static_cast<uint8_t>(AValue >> 8), static_cast<uint8_t>(AValue)};
  FOut.Write(be, 2);
}

void TBoxWriter::U24(uint32_t AValue) {
  uint8_t be[3] = {static_cast<uint8_t>(AValue >> 16), static_cast<uint8_t>(AValue >> 8),
                   static_cast<uint8_t>(AValue)};
  FOut.Write(be, 3);
}

void TBoxWriter::U32(uint32_t AValue) {
  uint8_t be[4] = {static_cast<uint8_t>(AValue >> 24), static_cast<uint8_t>(AValue >> 16),
                   static_cast<uint8_t>(AValue >> 8), static_cast<uint8_t>(AValue)};
  FOut.Write(be, 4);
}

void TBoxWriter::U64(uint64_t AValue) {
  U32(static_cast<uint32_t>(AValue >> 32));
  U32(static_cast<uint32_t>(AValue));
}

void TBoxWriter::FourCC(const char* AType) { FOut.Write(AType, 4); }

void TBoxWriter::Bytes(const void* AData, size_t ACount) {
  if (ACount > 0) FOut.Write(AData, ACount);
}

void TBoxWriter::Zeros(size_t ACount) {
  static const uint8_t zeros[64] = {};
  while (ACount > 0) {
    size_t n = std::min(ACount, sizeof zeros);
    FOut.Write(zeros, n);
    ACount -= n;
  }
}

// ---- Durations ---------------------------------------------------------------------

uint64_t RescaleDuration(uint64_t ADuration, uint32_t AFromScale, uint32_t AToScale) {
  if (AFromScale == 0) return 0;
  if (AFromScale == AToScale) return ADuration;
  unsigned __int128 v = static_cast<unsigned __int128>(ADuration) * AToScale / AFromScale;
  return v > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(v);
}

uint64_t EditMediaDuration(const TMp4Track& ATrack) {
  uint64_t media = ATrack.MediaDuration();
  if (ATrack.Edit.MediaStart >= media) return 0;
  return std::min(ATrack.Edit.MediaDuration, media - ATrack.Edit.MediaStart);
}

uint64_t TrackPresentationDuration(const TMp4Track& ATrack, uint32_t AMovieTimeScale) {
  if (!ATrack.Edit.Set) return RescaleDuration(ATrack.MediaDuration(), ATrack.TimeScale(), AMovieTimeScale);
  return ATrack.Edit.EmptyDuration +
         RescaleDuration(EditMediaDuration(ATrack), ATrack.TimeScale(), AMovieTimeScale);
}

namespace {

constexpr uint32_t UnityMatrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

bool Fits32(uint64_t AValue) { return AValue <= UINT32_MAX; }

// Writes a time field as 32 or 64 bits, as the box version says.
void TimeField(TBoxWriter& AOut, uint8_t AVersion, uint64_t AValue) {
  if (AVersion == 1) AOut.U64(AValue);
  else AOut.U32(static_cast<uint32_t>(AValue));
}

// The size of an MPEG-4 descriptor: one byte below 128, else four bytes of 7 bits.
void DescriptorHeader(TBoxWriter& AOut, uint8_t ATag, uint32_t ASize) {
  AOut.U8(ATag);
  if (ASize < 0x80) {
    AOut.U8(static_cast<uint8_t>(ASize));
    return;
  }
  for (int shift = 21; shift > 0; shift -= 7) AOut.U8(static_cast<uint8_t>(0x80 | ((ASize >> shift) & 0x7F)));
  AOut.U8(static_cast<uint8_t>(ASize & 0x7F));
}

uint32_t DescriptorHeaderSize(uint32_t ASize) { return ASize < 0x80 ? 2 : 5; }

// The channel count of an AudioSpecificConfig; 2 when it cannot be read.
uint16_t AudioChannels(const std::vector<uint8_t>& AConfig) {
  if (AConfig.size() < 2) return 2;
  uint32_t bits = (uint32_t{AConfig[0]} << 8) | AConfig[1];
  uint32_t objectType = bits >> 11;
  uint32_t frequencyIndex = (bits >> 7) & 0x0F;
  if (objectType == 31 || frequencyIndex == 15) return 2;  // escaped forms: not ours
  uint32_t channels = (bits >> 3) & 0x0F;
  if (channels == 0) return 2;
  return static_cast<uint16_t>(channels == 7 ? 8 : channels);
}

void WriteMvhdBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie, uint64_t ADuration, uint32_t ANextTrackId) {
  uint8_t version = Fits32(ADuration) && Fits32(AMovie.CreationTime) ? 0 : 1;
  int64_t box = AOut.BeginFullBox("mvhd", version, 0);
  TimeField(AOut, version, AMovie.CreationTime);
  TimeField(AOut, version, AMovie.CreationTime);
  AOut.U32(AMovie.TimeScale);
  TimeField(AOut, version, ADuration);
  AOut.U32(0x00010000);  // rate 1.0
  AOut.U16(0x0100);      // volume 1.0
  AOut.Zeros(10);
  for (uint32_t m : UnityMatrix) AOut.U32(m);
  AOut.Zeros(24);
  AOut.U32(ANextTrackId);
  AOut.EndBox(box);
}

void WriteIodsBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie) {
  int64_t box = AOut.BeginFullBox("iods", 0, 0);
  DescriptorHeader(AOut, 0x10, 7);  // MP4_IOD
  AOut.U16(0x004F);                 // object descriptor id 1, no URL, no inline profiles
  AOut.U8(0xFF);                    // OD profile: none required
  AOut.U8(0xFF);                    // scene profile
  AOut.U8(AMovie.AudioProfileLevel);
  AOut.U8(AMovie.VideoProfileLevel);
  AOut.U8(0xFF);  // graphics profile
  AOut.EndBox(box);
}

void WriteTkhdBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie, const TMp4Track& ATrack) {
  uint64_t duration = TrackPresentationDuration(ATrack, AMovie.TimeScale);
  uint8_t version = Fits32(duration) && Fits32(AMovie.CreationTime) ? 0 : 1;
  int64_t box = AOut.BeginFullBox("tkhd", version, 0x000003);  // enabled, in movie
  TimeField(AOut, version, AMovie.CreationTime);
  TimeField(AOut, version, AMovie.CreationTime);
  AOut.U32(ATrack.Id());
  AOut.U32(0);
  TimeField(AOut, version, duration);
  AOut.Zeros(8);
  AOut.U16(0);  // layer
  AOut.U16(0);  // alternate group
  AOut.U16(ATrack.Kind() == TMp4TrackKind::Audio ? 0x0100 : 0);
  AOut.U16(0);
  for (uint32_t m : UnityMatrix) AOut.U32(m);
  bool video = ATrack.Kind() == TMp4TrackKind::Video;
  AOut.U32(video ? uint32_t{ATrack.VideoEntries.front().Width} << 16 : 0);
  AOut.U32(video ? uint32_t{ATrack.VideoEntries.front().Height} << 16 : 0);
  AOut.EndBox(box);
}

void WriteElstBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie, const TMp4Track& ATrack) {
  const TMp4Edit& edit = ATrack.Edit;
  uint64_t segment = RescaleDuration(EditMediaDuration(ATrack), ATrack.TimeScale(), AMovie.TimeScale);
  bool large = !Fits32(edit.EmptyDuration) || !Fits32(segment) || edit.MediaStart > INT32_MAX;
  uint8_t version = large ? 1 : 0;
  int64_t box = AOut.BeginFullBox("elst", version, 0);
  AOut.U32(edit.EmptyDuration > 0 ? 2 : 1);
  if (edit.EmptyDuration > 0) {
    TimeField(AOut, version, edit.EmptyDuration);
    TimeField(AOut, version, version == 1 ? UINT64_MAX : UINT32_MAX);  // media time -1: empty
    AOut.U32(0x00010000);
  }
  TimeField(AOut, version, segment);
  TimeField(AOut, version, edit.MediaStart);
  AOut.U32(0x00010000);  // rate 1.0
  AOut.EndBox(box);
}

void WriteEdtsBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie, const TMp4Track& ATrack) {
  int64_t box = AOut.BeginBox("edts");
  WriteElstBox(AOut, AMovie, ATrack);
  AOut.EndBox(box);
}

void WriteMdhdBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie, const TMp4Track& ATrack) {
  uint8_t version = Fits32(ATrack.MediaDuration()) && Fits32(AMovie.CreationTime) ? 0 : 1;
  int64_t box = AOut.BeginFullBox("mdhd", version, 0);
  TimeField(AOut, version, AMovie.CreationTime);
  TimeField(AOut, version, AMovie.CreationTime);
  AOut.U32(ATrack.TimeScale());
  TimeField(AOut, version, ATrack.MediaDuration());
  AOut.U16(0x55C4);  // language "und"
  AOut.U16(0);
  AOut.EndBox(box);
}

void WriteHdlrBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  bool video = ATrack.Kind() == TMp4TrackKind::Video;
  int64_t box = AOut.BeginFullBox("hdlr", 0, 0);
  AOut.U32(0);
  AOut.FourCC(video ? "vide" : "soun");
  AOut.Zeros(12);
  const char* name = video ? "VideoHandler" : "SoundHandler";
  AOut.Bytes(name, std::strlen(name) + 1);
  AOut.EndBox(box);
}

void WriteVmhdBox(TBoxWriter& AOut) {
  int64_t box = AOut.BeginFullBox("vmhd", 0, 1);
  AOut.Zeros(8);  // graphics mode copy, opcolor
  AOut.EndBox(box);
}

void WriteSmhdBox(TBoxWriter& AOut) {
  int64_t box = AOut.BeginFullBox("smhd", 0, 0);
  AOut.Zeros(4);  // balance, reserved
  AOut.EndBox(box);
}

void WriteUrlBox(TBoxWriter& AOut) {
  int64_t box = AOut.BeginFullBox("url ", 0, 1);  // media data in this file
  AOut.EndBox(box);
}

void WriteDrefBox(TBoxWriter& AOut) {
  int64_t box = AOut.BeginFullBox("dref", 0, 0);
  AOut.U32(1);
  WriteUrlBox(AOut);
  AOut.EndBox(box);
}

void WriteDinfBox(TBoxWriter& AOut) {
  int64_t box = AOut.BeginBox("dinf");
  WriteDrefBox(AOut);
  AOut.EndBox(box);
}

void WriteAvcCBox(TBoxWriter& AOut, const TMp4VideoEntry& AEntry, uint8_t ALengthSizeMinusOne) {
  int64_t box = AOut.BeginBox("avcC");
  AOut.U8(1);  // configuration version
  AOut.U8(AEntry.ProfileIdc);
  AOut.U8(AEntry.ProfileCompatibility);
  AOut.U8(AEntry.LevelIdc);
  AOut.U8(static_cast<uint8_t>(0xFC | (ALengthSizeMinusOne & 3)));
  size_t spsCount = std::min<size_t>(AEntry.SequenceParameterSets.size(), 31);
  AOut.U8(static_cast<uint8_t>(0xE0 | spsCount));
  for (size_t i = 0; i < spsCount; ++i) {
    const std::vector<uint8_t>& sps = AEntry.SequenceParameterSets[i];
    AOut.U16(static_cast<uint16_t>(sps.size()));
    AOut.Bytes(sps.data(), sps.size());
  }
  size_t ppsCount = std::min<size_t>(AEntry.PictureParameterSets.size(), 255);
  AOut.U8(static_cast<uint8_t>(ppsCount));
  for (size_t i = 0; i < ppsCount; ++i) {
    const std::vector<uint8_t>& pps = AEntry.PictureParameterSets[i];
    AOut.U16(static_cast<uint16_t>(pps.size()));
    AOut.Bytes(pps.data(), pps.size());
  }
  uint8_t profile = AEntry.ProfileIdc;
  if (profile != 66 && profile != 77 && profile != 88) {
    // Profiles above Main also state the chroma format and bit depths.
    TH264SpsInfo info;
    if (!AEntry.SequenceParameterSets.empty()) {
      const std::vector<uint8_t>& sps = AEntry.SequenceParameterSets.front();
      ParseH264Sps(sps.data(), sps.size(), info);
    }
    AOut.U8(static_cast<uint8_t>(0xFC | info.ChromaFormatIdc));
    AOut.U8(static_cast<uint8_t>(0xF8 | info.BitDepthLumaMinus8));
    AOut.U8(static_cast<uint8_t>(0xF8 | info.BitDepthChromaMinus8));
    AOut.U8(0);  // no SPS extensions
  }
  AOut.EndBox(box);
}

void WriteAvc1Box(TBoxWriter& AOut, const TMp4VideoEntry& AEntry, uint8_t ALengthSizeMinusOne) {
  int64_t box = AOut.BeginBox("avc1");
  AOut.Zeros(6);
  AOut.U16(1);  // data reference index
  AOut.Zeros(16);
  AOut.U16(AEntry.Width);
  AOut.U16(AEntry.Height);
  AOut.U32(0x00480000);  // 72 dpi
  AOut.U32(0x00480000);
  AOut.U32(0);
  AOut.U16(1);    // frames per sample
  AOut.Zeros(32); // compressor name
  AOut.U16(0x0018);
  AOut.U16(0xFFFF);
  WriteAvcCBox(AOut, AEntry, ALengthSizeMinusOne);
  AOut.EndBox(box);
}

void WriteEsdsBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  const std::vector<uint8_t>& dsi = ATrack.DecoderSpecificInfo;
  uint32_t dsiLen = static_cast<uint32_t>(dsi.size());
  uint32_t decoderConfigLen = 13 + (dsiLen > 0 ? DescriptorHeaderSize(dsiLen) + dsiLen : 0);
  uint32_t esLen = 3 + DescriptorHeaderSize(decoderConfigLen) + decoderConfigLen + 3;
  int64_t box = AOut.BeginFullBox("esds", 0, 0);
  DescriptorHeader(AOut, 0x03, esLen);  // ES descriptor
  AOut.U16(static_cast<uint16_t>(ATrack.Id()));
  AOut.U8(0);
  DescriptorHeader(AOut, 0x04, decoderConfigLen);  // decoder configuration
  AOut.U8(ATrack.AudioType);
  AOut.U8(0x15);  // audio stream
  AOut.U24(std::min<uint32_t>(ATrack.MaxSampleSize(), 0xFFFFFF));
  AOut.U32(ATrack.MaxBitrate());
  AOut.U32(ATrack.AverageBitrate());
  if (dsiLen > 0) {
    DescriptorHeader(AOut, 0x05, dsiLen);  // decoder-specific info
    AOut.Bytes(dsi.data(), dsi.size());
  }
  DescriptorHeader(AOut, 0x06, 1);  // SL configuration: predefined for MP4
  AOut.U8(0x02);
  AOut.EndBox(box);
}

void WriteMp4aBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  int64_t box = AOut.BeginBox("mp4a");
  AOut.Zeros(6);
  AOut.U16(1);  // data reference index
  AOut.Zeros(8);
  AOut.U16(AudioChannels(ATrack.DecoderSpecificInfo));
  AOut.U16(16);  // sample size
  AOut.Zeros(4);
  AOut.U32(ATrack.TimeScale() < 0x10000 ? ATrack.TimeScale() << 16 : 0);
  WriteEsdsBox(AOut, ATrack);
  AOut.EndBox(box);
}

void WriteStsdBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  int64_t box = AOut.BeginFullBox("stsd", 0, 0);
  if (ATrack.Kind() == TMp4TrackKind::Video) {
    AOut.U32(static_cast<uint32_t>(ATrack.VideoEntries.size()));
    for (const TMp4VideoEntry& e : ATrack.VideoEntries) WriteAvc1Box(AOut, e, ATrack.LengthSizeMinusOne);
  } else {
    AOut.U32(1);
    WriteMp4aBox(AOut, ATrack);
  }
  AOut.EndBox(box);
}

void WriteSttsBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  int64_t box = AOut.BeginFullBox("stts", 0, 0);
  AOut.U32(static_cast<uint32_t>(ATrack.Durations().size()));
  for (const TMp4Run<uint32_t>& run : ATrack.Durations()) {
    AOut.U32(run.Count);
    AOut.U32(run.Value);
  }
  AOut.EndBox(box);
}

void WriteCttsBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  const std::vector<TMp4Run<int32_t>>& runs = ATrack.RenderingOffsets();
  bool negative = std::any_of(runs.begin(), runs.end(), [](const TMp4Run<int32_t>& r) { return r.Value < 0; });
  int64_t box = AOut.BeginFullBox("ctts", negative ? 1 : 0, 0);
  AOut.U32(static_cast<uint32_t>(runs.size()));
  for (const TMp4Run<int32_t>& run : runs) {
    AOut.U32(run.Count);
    AOut.U32(static_cast<uint32_t>(run.Value));
  }
  AOut.EndBox(box);
}

void WriteStssBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  const TBlockArray<uint32_t>& sync = ATrack.SyncSamples();
  int64_t box = AOut.BeginFullBox("stss", 0, 0);
  AOut.U32(static_cast<uint32_t>(sync.Size()));
  for (size_t i = 0; i < sync.Size(); ++i) AOut.U32(sync[i]);
  AOut.EndBox(box);
}

void WriteStscBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  const TBlockArray<uint32_t>& counts = ATrack.ChunkSampleCounts();
  // The description of each chunk, from its runs; an entry starts where the samples per
  // chunk or the description change.
  const std::vector<TMp4Run<uint32_t>>& descriptions = ATrack.ChunkDescriptions();
  auto forEachEntry = [&](auto AVisit) {
    size_t run = 0;
    uint32_t leftInRun = descriptions.empty() ? UINT32_MAX : descriptions[0].Count;
    uint32_t lastCount = 0, lastDescription = 0;
    for (size_t i = 0; i < counts.Size(); ++i) {
      while (leftInRun == 0 && run + 1 < descriptions.size()) leftInRun = descriptions[++run].Count;
      const uint32_t description = descriptions.empty() ? 1 : descriptions[run].Value;
      --leftInRun;
      if (i == 0 || counts[i] != lastCount || description != lastDescription) AVisit(i, counts[i], description);
      lastCount = counts[i];
      lastDescription = description;
    }
  };
  uint32_t entries = 0;
  forEachEntry([&](size_t, uint32_t, uint32_t) { ++entries; });
  int64_t box = AOut.BeginFullBox("stsc", 0, 0);
  AOut.U32(entries);
  forEachEntry([&](size_t AChunk, uint32_t ACount, uint32_t ADescription) {
    AOut.U32(static_cast<uint32_t>(AChunk + 1));  // first chunk of the run
    AOut.U32(ACount);
    AOut.U32(ADescription);
  });
  AOut.EndBox(box);
}

void WriteStszBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  size_t count = ATrack.SampleCount();
  bool same = ATrack.AllSameSize() && count > 0;
  int64_t box = AOut.BeginFullBox("stsz", 0, 0);
  AOut.U32(same ? ATrack.SampleSize(0) : 0);
  AOut.U32(static_cast<uint32_t>(count));
  if (!same) {
    for (size_t i = 0; i < count; ++i) AOut.U32(ATrack.SampleSize(i));
  }
  AOut.EndBox(box);
}

// stco, or co64 once a chunk lies beyond 4 GiB.
void WriteChunkOffsetBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  const TBlockArray<uint64_t>& offsets = ATrack.ChunkOffsets();
  bool large = ATrack.NeedsLargeOffsets();
  int64_t box = AOut.BeginFullBox(large ? "co64" : "stco", 0, 0);
  AOut.U32(static_cast<uint32_t>(offsets.Size()));
  for (size_t i = 0; i < offsets.Size(); ++i) {
    if (large) AOut.U64(offsets[i]);
    else AOut.U32(static_cast<uint32_t>(offsets[i]));
  }
  AOut.EndBox(box);
}

void WriteStblBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  int64_t box = AOut.BeginBox("stbl");
  WriteStsdBox(AOut, ATrack);
  WriteSttsBox(AOut, ATrack);
  if (!ATrack.RenderingOffsets().empty()) WriteCttsBox(AOut, ATrack);
  if (ATrack.Kind() == TMp4TrackKind::Video || !ATrack.AllSync()) WriteStssBox(AOut, ATrack);
  WriteStscBox(AOut, ATrack);
  WriteStszBox(AOut, ATrack);
  WriteChunkOffsetBox(AOut, ATrack);
  AOut.EndBox(box);
}

void WriteMinfBox(TBoxWriter& AOut, const TMp4Track& ATrack) {
  int64_t box = AOut.BeginBox("minf");
  if (ATrack.Kind() == TMp4TrackKind::Video) WriteVmhdBox(AOut);
  else WriteSmhdBox(AOut);
  WriteDinfBox(AOut);
  WriteStblBox(AOut, ATrack);
  AOut.EndBox(box);
}

void WriteMdiaBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie, const TMp4Track& ATrack) {
  int64_t box = AOut.BeginBox("mdia");
  WriteMdhdBox(AOut, AMovie, ATrack);
  WriteHdlrBox(AOut, ATrack);
  WriteMinfBox(AOut, ATrack);
  AOut.EndBox(box);
}

void WriteTrakBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie, const TMp4Track& ATrack) {
  int64_t box = AOut.BeginBox("trak");
  WriteTkhdBox(AOut, AMovie, ATrack);
  if (ATrack.Edit.Set) WriteEdtsBox(AOut, AMovie, ATrack);
  WriteMdiaBox(AOut, AMovie, ATrack);
  AOut.EndBox(box);
}

}  // namespace

void WriteFtypBox(TBoxWriter& AOut) {
  int64_t box = AOut.BeginBox("ftyp");
  AOut.FourCC("isom");
  AOut.U32(0x200);
  for (const char* brand : {"isom", "iso2", "avc1", "mp41"}) AOut.FourCC(brand);
  AOut.EndBox(box);
}

int64_t WriteMdatHeader(TBoxWriter& AOut) {
  int64_t start = AOut.Position();
  AOut.U32(8);
  AOut.FourCC("free");
  AOut.U32(8);
  AOut.FourCC("mdat");
  return start;
}

bool PatchMdatSize(TFileWriter& AOut, int64_t AHeaderStart, int64_t AEnd) {
  uint64_t size32 = static_cast<uint64_t>(AEnd - (AHeaderStart + 8));
  uint8_t header[16];
  if (size32 <= UINT32_MAX) {
    for (int i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(size32 >> (24 - 8 * i));
    return AOut.WriteAt(AHeaderStart + 8, header, 4);
  }
  // 64-bit form: size 1, type, then the size of the whole box from the free box on.
  uint64_t size64 = static_cast<uint64_t>(AEnd - AHeaderStart);
  const uint8_t head[8] = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
  std::memcpy(header, head, 8);
  for (int i = 0; i < 8; ++i) header[8 + i] = static_cast<uint8_t>(size64 >> (56 - 8 * i));
  return AOut.WriteAt(AHeaderStart, header, 16);
}

void WriteMoovBox(TBoxWriter& AOut, const TMp4MovieInfo& AMovie,
                  const std::vector<const TMp4Track*>& ATracks) {
  uint64_t duration = 0;
  uint32_t nextTrackId = 1;
  for (const TMp4Track* track : ATracks) {
    duration = std::max(duration, TrackPresentationDuration(*track, AMovie.TimeScale));
    nextTrackId = std::max(nextTrackId, track->Id() + 1);
  }
  int64_t box = AOut.BeginBox("moov");
  WriteMvhdBox(AOut, AMovie, duration, nextTrackId);
  if (AMovie.HasProfileLevels) WriteIodsBox(AOut, AMovie);
  for (const TMp4Track* track : ATracks) WriteTrakBox(AOut, AMovie, *track);
  if (!AMovie.ConversionState.empty()) {
    int64_t udta = AOut.BeginBox("udta");
    int64_t state = AOut.BeginBox(ConversionStateBox);
    AOut.Bytes(reinterpret_cast<const uint8_t*>(AMovie.ConversionState.data()), AMovie.ConversionState.size());
    AOut.EndBox(state);
    AOut.EndBox(udta);
  }
  AOut.EndBox(box);
}
