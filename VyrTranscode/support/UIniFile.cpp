#include "support/UIniFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/UFileDescriptor.h"
#include "support/UPathParts.h"
#include "support/UText.h"
#include "support/uFunctionsLib.h"

EIniWriteError::EIniWriteError(const std::string& AFileName)
    : std::runtime_error("Unable to write to " + AFileName) {}

// ---- Text ----------------------------------------------------------------------------

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// One line of the file: [Begin, ContentEnd) is its text without the line ending,
// [ContentEnd, End) the line ending itself ("\n", "\r\n" or nothing at the end).
struct TLine {
  size_t Begin, ContentEnd, End;
};

// Calls AVisit(const TLine&) for each line in order until it answers false. Lines are
// found one at a time, so walking costs no memory per line.
template <typename TVisit>
void ForEachLine(std::string_view AText, TVisit&& AVisit) {
  size_t pos = 0;
  // A UTF-8 byte order mark is kept but is not part of the first line's text.
  if (AText.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < AText.size()) {
    const size_t nl = AText.find('\n', pos);
    const size_t end = nl == std::string_view::npos ? AText.size() : nl + 1;
    size_t contentEnd = nl == std::string_view::npos ? AText.size() : nl;
    // "\r\n" ends a line as "\n" does; a lone "\r" is part of the text.
    if (nl != std::string_view::npos && contentEnd > pos && AText[contentEnd - 1] == '\r') --contentEnd;
    if (!AVisit(TLine{pos, contentEnd, end})) return;
    pos = end;
  }
}

enum class TLineKind { Other, Section, KeyValue };

struct TParsedLine {
  TLineKind Kind = TLineKind::Other;
  std::string_view Name;   // section name or key, inside the text
  std::string_view Value;  // value of a key line, inside the text
  size_t ValueBegin = 0, ValueEnd = 0;  // offsets of the value in the whole text
};

TParsedLine ParseLine(std::string_view AText, const TLine& ALine) {
  TParsedLine r;
  const std::string_view content = AText.substr(ALine.Begin, ALine.ContentEnd - ALine.Begin);
  size_t first = 0;
  while (first < content.size() && IsBlank(content[first])) ++first;
  if (first == content.size()) return r;
  const char c = content[first];
  if (c == ';' || c == '#') return r;
  if (c == '[') {
    const size_t close = content.find(']', first + 1);
    if (close == std::string_view::npos) return r;
    r.Kind = TLineKind::Section;
    r.Name = Trim(content.substr(first + 1, close - first - 1));
    return r;
  }
  const size_t eq = content.find('=');
  if (eq == std::string_view::npos) return r;
  r.Kind = TLineKind::KeyValue;
  r.Name = Trim(content.substr(0, eq));
  size_t vb = eq + 1, ve = content.size();
  while (vb < ve && IsBlank(content[vb])) ++vb;
  while (ve > vb && IsBlank(content[ve - 1])) --ve;
  r.Value = content.substr(vb, ve - vb);
  r.ValueBegin = ALine.Begin + vb;
  r.ValueEnd = ALine.Begin + ve;
  return r;
}

// Section, key and value text that a write can store on one line and read back.
bool IsOneLineText(const std::string& AText) {
  return AText.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos &&
         TIniFile::IsUtf8Text(AText);
}

}  // namespace

bool TIniFile::IsUtf8Text(std::string_view AText) {
  return AText.find('\0') == std::string_view::npos && IsUtf8(AText);
}

TIniFile::TIniFile(std::string AFileName) : FFileName(std::move(AFileName)) {}

std::string TIniFile::ValueFromText(const std::string& AText, const std::string& ASection,
                                    const std::string& AKey, bool* AFound) {
  bool inSection = false, found = false;
  std::string_view value;
  ForEachLine(AText, [&](const TLine& ALine) {
    const TParsedLine p = ParseLine(AText, ALine);
    if (p.Kind == TLineKind::Section) {
      inSection = SameTextAscii(p.Name, ASection);
    } else if (p.Kind == TLineKind::KeyValue && inSection && SameTextAscii(p.Name, AKey)) {
      found = true;
      value = p.Value;
      return false;
    }
    return true;
  });
  if (AFound) *AFound = found;
  return std::string(value);
}

std::string TIniFile::SetValueInText(const std::string& AText, const std::string& ASection,
                                     const std::string& AKey, const std::string& AValue) {
  // The line ending used for new lines follows the file's first line.
  std::string eol = "\n";
  ForEachLine(AText, [&](const TLine& ALine) {
    if (ALine.End == ALine.ContentEnd) return true;
    eol = AText.substr(ALine.ContentEnd, ALine.End - ALine.ContentEnd);
    return false;
  });
  bool inSection = false, sectionFound = false, keyFound = false;
  size_t insertAt = std::string::npos;  // after the last key line of the section
  size_t valueBegin = 0, valueEnd = 0;
  ForEachLine(AText, [&](const TLine& ALine) {
    const TParsedLine p = ParseLine(AText, ALine);
    if (p.Kind == TLineKind::Section) {
      if (inSection) return false;  // the section ended without the key
      inSection = SameTextAscii(p.Name, ASection);
      if (inSection) {
        sectionFound = true;
        insertAt = ALine.End;
      }
    } else if (inSection && p.Kind == TLineKind::KeyValue) {
      if (SameTextAscii(p.Name, AKey)) {
        keyFound = true;
        valueBegin = p.ValueBegin;
        valueEnd = p.ValueEnd;
        return false;
      }
      insertAt = ALine.End;
    }
    return true;
  });
  // The result is put together in one buffer of its final size.
  std::string out;
  const std::string_view text(AText);
  if (keyFound) {
    out.reserve(AText.size() - (valueEnd - valueBegin) + AValue.size());
    out.append(text.substr(0, valueBegin)).append(AValue).append(text.substr(valueEnd));
    return out;
  }
  const size_t newLineSize = AKey.size() + 1 + AValue.size() + eol.size();
  // A last line without a line ending gets one before anything is added after it.
  const bool endLine = !AText.empty() && AText.back() != '\n';
  if (sectionFound) {
    const bool atEnd = insertAt == AText.size();
    out.reserve(AText.size() + (atEnd && endLine ? eol.size() : 0) + newLineSize);
    out.append(text.substr(0, insertAt));
    if (atEnd && endLine) out.append(eol);
    out.append(AKey).append("=").append(AValue).append(eol).append(text.substr(insertAt));
    return out;
  }
  out.reserve(AText.size() + (endLine ? eol.size() : 0) + ASection.size() + 2 + eol.size() + newLineSize);
  out.append(AText);
  if (endLine) out.append(eol);
  out.append("[").append(ASection).append("]").append(eol);
  out.append(AKey).append("=").append(AValue).append(eol);
  return out;
}

void TIniFile::ForEachKeyLine(const std::string& AText, const TKeyLineVisitor& AVisit) {
  bool inSection = false;
  std::string_view section;
  ForEachLine(AText, [&](const TLine& ALine) {
    const TParsedLine p = ParseLine(AText, ALine);
    if (p.Kind == TLineKind::Section) {
      inSection = true;
      section = p.Name;
    } else if (inSection && p.Kind == TLineKind::KeyValue) {
      AVisit(section, p.Name, p.Value);
    }
    return true;
  });
}

std::vector<std::pair<std::string, std::string>> TIniFile::SectionValuesFromText(
    const std::string& AText, const std::string& ASection) {
  std::vector<std::pair<std::string, std::string>> result;
  bool inSection = false;
  ForEachLine(AText, [&](const TLine& ALine) {
    const TParsedLine p = ParseLine(AText, ALine);
    if (p.Kind == TLineKind::Section) {
      inSection = SameTextAscii(p.Name, ASection);
    } else if (inSection && p.Kind == TLineKind::KeyValue) {
      result.emplace_back(p.Name, p.Value);
    }
    return true;
  });
  return result;
}

std::vector<std::string> TIniFile::SectionsFromText(const std::string& AText) {
  std::vector<std::string> result;
  ForEachLine(AText, [&](const TLine& ALine) {
    const TParsedLine p = ParseLine(AText, ALine);
    if (p.Kind == TLineKind::Section) result.emplace_back(p.Name);
    return true;
  });
  return result;
}

// ---- Files ---------------------------------------------------------------------------

namespace {

bool SameFile(const struct stat& A, const struct stat& B) {
  return A.st_dev == B.st_dev && A.st_ino == B.st_ino;
}

// Reads a regular file from its start: at most ALimit bytes. A file with more is cut at
// its last whole line within the limit and APartial set. The buffer grows with what is
// read, never beyond ALimit + 1 bytes. False (errno set) when a read fails.
bool ReadBounded(int AFd, off_t ASizeHint, size_t ALimit, std::string& AText, bool& APartial) {
  APartial = false;
  const size_t hint = ASizeHint > 0 ? static_cast<size_t>(ASizeHint) : 0;
  std::string buf(std::min(hint, ALimit) + 1, '\0');
  size_t got = 0;
  for (;;) {
    if (got == buf.size()) {
      if (buf.size() > ALimit) break;
      buf.resize(std::min(buf.size() * 2, ALimit + 1));
    }
    const ssize_t n = ::pread(AFd, &buf[got], buf.size() - got, static_cast<off_t>(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  buf.resize(got);
  if (got > ALimit) {
    APartial = true;
    const size_t nl = buf.rfind('\n', ALimit - 1);
    buf.resize(nl == std::string::npos ? 0 : nl + 1);
  }
  AText = std::move(buf);
  return true;
}

bool WriteAll(int AFd, const std::string& AText, off_t AOffset) {
  size_t done = 0;
  while (done < AText.size()) {
    const ssize_t n = ::pwrite(AFd, AText.data() + done, AText.size() - done,
                               AOffset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}


std::string RandomHex() {
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    // Without the random source: time, process and a counter still make a fresh name.
    static std::atomic<unsigned> counter{0};
    const auto t = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned long long mix = t ^ (static_cast<unsigned long long>(::getpid()) << 20) ^ ++counter;
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mix >> (8 * i));
  }
  char text[2 * sizeof bytes + 1];
  for (size_t i = 0; i < sizeof bytes; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  return text;
}

// One write of a file: the checks, the temporary file and the replacement, each failure
// logged with its reason and raised as EIniWriteError.
class TIniWrite {
 public:
  explicit TIniWrite(const std::string& AFileName) : FFileName(AFileName) {}

  [[noreturn]] void Refuse(const std::string& AReason) const {
    PrintDebugString("Unable to write to " + FFileName + ": " + AReason);
    throw EIniWriteError(FFileName);
  }
  [[noreturn]] void RefuseErrno(const char* AWhat) const {
    Refuse(std::string(AWhat) + ": " + std::strerror(errno));
  }

  // A file of the new name in the open folder, created exclusively; its name in ATempName.
  // Returns an invalid descriptor with errno set when no file can be created there.
  TFd CreateTemp(int AFolder, const std::string& AName, mode_t AMode, std::string& ATempName) const {
    for (int attempt = 0; attempt < 32; ++attempt) {
      // Hidden, and short enough for any name the folder can hold.
      ATempName = "." + AName.substr(0, 200) + "." + RandomHex() + ".tmp";
      const int fd = ::openat(AFolder, ATempName.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, AMode);
      if (fd >= 0) return TFd(fd);
      if (errno != EEXIST) return TFd();
    }
    return TFd();
  }

  // The file that a write may not exceed without failing half-way.
  void CheckSizeLimit(size_t ASize) const {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        ASize > limit.rlim_cur)
      Refuse("the new text is larger than the file size limit");
  }

 private:
  const std::string& FFileName;
};

// Removes a temporary file unless it was renamed into place.
class TTempFileGuard {
 public:
  TTempFileGuard(int AFolder, std::string AName) : FFolder(AFolder), FName(std::move(AName)) {}
  ~TTempFileGuard() {
    if (!FName.empty()) ::unlinkat(FFolder, FName.c_str(), 0);
  }
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;
  void Release() { FName.clear(); }

 private:
  int FFolder;
  std::string FName;
};

void SyncFolder(int AFolder, const std::string& AFileName) {
  // The rename took place; a folder that cannot be synced only loses durability.
  if (::fsync(AFolder) != 0 && errno != EINVAL)
    PrintDebugString("INI file folder not synced after writing " + AFileName + ": " +
                     std::strerror(errno));
}

// Writes the text over the open file, in place. Its new size is reserved first, so a full
// disk fails before anything is overwritten.
void RewriteInPlace(const TIniWrite& AWrite, int AFd, off_t AOldSize, const std::string& AText) {
  AWrite.CheckSizeLimit(AText.size());
  if (static_cast<off_t>(AText.size()) > AOldSize &&
      ::fallocate(AFd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(AText.size())) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS)
    AWrite.RefuseErrno("no room for the new text");
  if (!WriteAll(AFd, AText, 0)) AWrite.RefuseErrno("write failed");
  if (::ftruncate(AFd, static_cast<off_t>(AText.size())) != 0) AWrite.RefuseErrno("truncate failed");
  if (::fsync(AFd) != 0) AWrite.RefuseErrno("sync failed");
}

enum class TReplaceResult { Replaced, KeepInPlace };

// Writes the text to a temporary file beside AName in the open folder and renames it over
// AName, which must still be the file AOld. KeepInPlace, with nothing changed, when no
// file can be created in the folder or the new one cannot keep the old one's owner.
TReplaceResult ReplaceByRename(const TIniWrite& AWrite, int AFolder, const std::string& AName,
                               const struct stat& AOld, const std::string& AText) {
  std::string tempName;
  TFd temp = AWrite.CreateTemp(AFolder, AName, S_IRUSR | S_IWUSR, tempName);
  if (!temp) {
    if (errno == EACCES || errno == EPERM) return TReplaceResult::KeepInPlace;
    AWrite.RefuseErrno("cannot create a temporary file");
  }
  TTempFileGuard guard(AFolder, tempName);
  AWrite.CheckSizeLimit(AText.size());
  if (!WriteAll(temp.Get(), AText, 0)) AWrite.RefuseErrno("write failed");
  struct stat now {};
  if (::fstat(temp.Get(), &now) != 0) AWrite.RefuseErrno("cannot inspect the temporary file");
  if ((now.st_uid != AOld.st_uid || now.st_gid != AOld.st_gid) &&
      ::fchown(temp.Get(), AOld.st_uid, AOld.st_gid) != 0)
    return TReplaceResult::KeepInPlace;
  // After the owner: a change of owner clears the set-id bits.
  if (::fchmod(temp.Get(), AOld.st_mode & 07777) != 0) AWrite.RefuseErrno("cannot set the mode");
  if (::fsync(temp.Get()) != 0) AWrite.RefuseErrno("sync failed");
  if (::fstatat(AFolder, AName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(now, AOld))
    AWrite.Refuse("the file was replaced while it was written");
  if (::renameat(AFolder, tempName.c_str(), AFolder, AName.c_str()) != 0)
    AWrite.RefuseErrno("rename failed");
  guard.Release();
  return TReplaceResult::Replaced;
}

}  // namespace

std::string TIniFile::ReadText() const {
  // Looked at before it is opened, so that no device is opened; the open does not wait
  // for a FIFO's writer, and what was opened is checked again.
  struct stat st {};
  if (::stat(FFileName.c_str(), &st) != 0) return std::string();
  TFd fd(S_ISREG(st.st_mode)
             ? ::open(FFileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
             : -1);
  if (!fd) {
    if (!S_ISREG(st.st_mode)) PrintDebugString("INI file is not a regular file, not read: " + FFileName);
    return std::string();
  }
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    PrintDebugString("INI file is not a regular file, not read: " + FFileName);
    return std::string();
  }
  std::string text;
  bool partial = false;
  if (!ReadBounded(fd.Get(), st.st_size, IniReadLimit, text, partial)) return std::string();
  if (partial)
    PrintDebugString("INI file larger than 1 MiB, read up to 1 MiB and never written: " + FFileName);
  return text;
}

std::string TIniFile::ReadString(const std::string& ASection, const std::string& AKey,
                                 const std::string& ADefault) const {
  bool found = false;
  std::string v = ValueFromText(ReadText(), ASection, AKey, &found);
  return found ? v : ADefault;
}

int TIniFile::ReadInteger(const std::string& ASection, const std::string& AKey, int ADefault) const {
  std::string v = ReadString(ASection, AKey, std::string());
  if (v.empty()) return ADefault;
  const char* s = v.c_str();
  char* end = nullptr;
  errno = 0;
  // Decimal, or hexadecimal with a "0x" prefix.
  long long n = std::strtoll(s, &end, 0);
  if (errno != 0 || end != s + v.size() || n < INT_MIN || n > INT_MAX) return ADefault;
  return static_cast<int>(n);
}

void TIniFile::WriteString(const std::string& ASection, const std::string& AKey,
                           const std::string& AValue) {
  const TIniWrite write(FFileName);
  if (!IsOneLineText(ASection) || !IsOneLineText(AKey) || !IsOneLineText(AValue))
    write.Refuse("a line break, a NUL byte or bytes that are not UTF-8 in what is written");

  struct stat st {};
  if (::lstat(FFileName.c_str(), &st) != 0) {
    if (errno != ENOENT) write.RefuseErrno("cannot inspect the file");
    // A new file: created under its name, never over a file that appeared meanwhile.
    const std::string folderName = FolderPart(FFileName), name = FileNamePart(FFileName);
    if (name.empty() || name == "." || name == "..") write.Refuse("not a file name");
    TFd folder(::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) write.RefuseErrno("cannot open the folder");
    const std::string text = SetValueInText(std::string(), ASection, AKey, AValue);
    std::string tempName;
    TFd temp = write.CreateTemp(folder.Get(), name, 0666, tempName);
    if (!temp) write.RefuseErrno("cannot create a temporary file");
    TTempFileGuard guard(folder.Get(), tempName);
    write.CheckSizeLimit(text.size());
    if (!WriteAll(temp.Get(), text, 0)) write.RefuseErrno("write failed");
    if (::fsync(temp.Get()) != 0) write.RefuseErrno("sync failed");
    if (::renameat2(folder.Get(), tempName.c_str(), folder.Get(), name.c_str(), RENAME_NOREPLACE) != 0) {
      // File systems without the no-replace rename: a hard link never replaces either.
      if (errno != EINVAL && errno != ENOSYS) write.RefuseErrno("rename failed");
      if (::linkat(folder.Get(), tempName.c_str(), folder.Get(), name.c_str(), 0) != 0)
        write.RefuseErrno("rename failed");
    } else {
      guard.Release();
    }
    SyncFolder(folder.Get(), FFileName);
    return;
  }

  // The file itself, through any links: its folder is where the temporary file goes.
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(FFileName.c_str(), nullptr), &std::free);
  if (!resolved) {
    if (errno == ENOENT) write.Refuse("the link leads to no file");
    write.RefuseErrno("cannot resolve the file name");
  }
  const std::string folderName = FolderPart(resolved.get()), name = FileNamePart(resolved.get());
  TFd folder(::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) write.RefuseErrno("cannot open the folder");
  if (::fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    write.RefuseErrno("cannot inspect the file");
  if (!S_ISREG(st.st_mode)) write.Refuse("not a regular file");
  // No write permission bit at all means read-only for every user, root included.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) write.Refuse("the file is read-only");
  TFd fd(::openat(folder.Get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)
      write.RefuseErrno("the file is read-only");
    write.RefuseErrno("cannot open the file");
  }
  struct stat opened {};
  if (::fstat(fd.Get(), &opened) != 0 || !SameFile(opened, st) || !S_ISREG(opened.st_mode))
    write.Refuse("the file was replaced while it was opened");

  std::string text;
  bool partial = false;
  if (!ReadBounded(fd.Get(), opened.st_size, IniReadLimit, text, partial)) write.RefuseErrno("read failed");
  if (partial) write.Refuse("the file is larger than 1 MiB and was read only in part");
  if (!IsUtf8Text(text)) write.Refuse("the file is not UTF-8 text");
  const std::string edited = SetValueInText(text, ASection, AKey, AValue);
  if (edited.size() > IniReadLimit) write.Refuse("the file would become larger than 1 MiB");
  if (edited == text) return;

  if (opened.st_nlink == 1 &&
      ReplaceByRename(write, folder.Get(), name, opened, edited) == TReplaceResult::Replaced) {
    SyncFolder(folder.Get(), FFileName);
    return;
  }
  // Several names share the file, or a new file could not take its place: the file
  // itself is rewritten, so every name keeps seeing it.
  RewriteInPlace(write, fd.Get(), opened.st_size, edited);
}

void TIniFile::WriteInteger(const std::string& ASection, const std::string& AKey, int AValue) {
  WriteString(ASection, AKey, std::to_string(AValue));
}

bool TIniFile::SectionExists(const std::string& ASection) const {
  bool found = false;
  const std::string text = ReadText();
  ForEachLine(text, [&](const TLine& ALine) {
    const TParsedLine p = ParseLine(text, ALine);
    found = p.Kind == TLineKind::Section && SameTextAscii(p.Name, ASection);
    return !found;
  });
  return found;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(
    const std::string& ASection) const {
  return SectionValuesFromText(ReadText(), ASection);
}

std::vector<std::string> TIniFile::ReadSections() const { return SectionsFromText(ReadText()); }
