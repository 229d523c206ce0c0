// Opening a folder in the desktop's file manager: "xdg-open FOLDER", started without a
// shell, with nothing to read on its standard input. Its exit status is watched without
// blocking the window: a status other than 0, or a program that cannot be started, is
// reported through Failed. xdg-open may keep running as long as the file manager it
// started (it then has succeeded so far); a child still running when the opener goes is
// left to run and is no longer watched.
#pragma once

#include <QObject>
#include <string>
#include <vector>
#include <sys/types.h>

class QTimer;

class TFolderOpener : public QObject {
  Q_OBJECT

 public:
  explicit TFolderOpener(QObject* AParent = nullptr);
  ~TFolderOpener() override;

  // Starts the opener on APath. False (and Failed is emitted at once) when it cannot be
  // started.
  bool Open(const std::string& APath);
  // Openers started and not yet ended.
  size_t Running() const { return FChildren.size(); }

 signals:
  // No program could open APath.
  void Failed(const std::string& APath);

 private:
  void Poll();

  struct TChild {
    pid_t Pid;
    std::string Path;
  };
  std::vector<TChild> FChildren;
  QTimer* FPoll;
};

// The program that opens a path (its name, found along PATH).
constexpr const char* VYR_FOLDER_OPENER = "xdg-open";
