#include "ui/UOpenExplorer.h"

#include <QDesktopServices>
#include <QUrl>

void OpenWindowsExplorer(const std::string& sPath) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(sPath)));
}
