// What vyrconvert shows while a file converts: on a terminal, one progress line redrawn in
// place (bar, percent, speed as a multiple of real time, time left); otherwise nothing
// until the file's summary line, so logs and pipes get whole lines only.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class TProgressDisplay {
 public:
  // AStream: where the progress line goes; drawn only when it is a terminal.
  explicit TProgressDisplay(FILE* AStream);
  // A new file of AMediaSeconds (0 when unknown) begins.
  void Begin(const std::string& AName, double AMediaSeconds);
  // Redraws the line for APercent (0..100).
  void Update(int APercent);
  // Clears the line before the summary is printed.
  void End();
  double ElapsedSeconds() const;
  bool IsTerminal() const { return FTerminal; }

  // "12.3x", "0:42" as shown on the line; public for the tests.
  static std::string FormatSpeed(double AMediaSeconds, double AWallSeconds);
  static std::string FormatClock(double ASeconds);

 private:
  FILE* FStream;
  bool FTerminal;
  std::string FName;
  double FMediaSeconds = 0;
  std::chrono::steady_clock::time_point FStart;
  int FLastPercent = -1;
  bool FDrawn = false;
};
