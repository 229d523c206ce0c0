#include "cli/UProgressDisplay.h"

#include <unistd.h>

TProgressDisplay::TProgressDisplay(FILE* AStream)
    : FStream(AStream), FTerminal(::isatty(::fileno(AStream)) == 1) {}

void TProgressDisplay::Begin(const std::string& AName, double AMediaSeconds) {
  FName = AName;
  FMediaSeconds = AMediaSeconds;
  FStart = std::chrono::steady_clock::now();
  FLastPercent = -1;
  FDrawn = false;
  Update(0);
}

double TProgressDisplay::ElapsedSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
}

std::string TProgressDisplay::FormatSpeed(double AMediaSeconds, double AWallSeconds) {
  if (AMediaSeconds <= 0 || AWallSeconds <= 0) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1fx", AMediaSeconds / AWallSeconds);
  return buf;
}

std::string TProgressDisplay::FormatClock(double ASeconds) {
  if (ASeconds < 0) ASeconds = 0;
  long s = static_cast<long>(ASeconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

void TProgressDisplay::Update(int APercent) {
  if (!FTerminal) return;
  if (APercent < 0) APercent = 0;
  if (APercent > 100) APercent = 100;
  double elapsed = ElapsedSeconds();
  if (APercent == FLastPercent && FDrawn) return;
  FLastPercent = APercent;
  const int width = 30;
  std::string bar(static_cast<size_t>(APercent * width / 100), '#');
  bar.resize(width, '.');
  std::string speed = "-", left = "-";
  if (APercent > 0 && elapsed > 0.2) {
    speed = FormatSpeed(FMediaSeconds * APercent / 100.0, elapsed);
    left = FormatClock(elapsed * (100 - APercent) / APercent);
  }
  std::fprintf(FStream, "\r\033[K%s [%s] %3d%%  %s  left %s", FName.c_str(), bar.c_str(), APercent, speed.c_str(),
               left.c_str());
  std::fflush(FStream);
  FDrawn = true;
}

void TProgressDisplay::End() {
  if (FTerminal && FDrawn) {
    std::fprintf(FStream, "\r\033[K");
    std::fflush(FStream);
  }
  FDrawn = false;
}
