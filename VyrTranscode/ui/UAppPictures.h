// The program's own pictures, drawn at run time: the 128 x 128 window icon and the
// 20 x 20 open-folder picture of the folder button.
#pragma once

#include <QIcon>
#include <QPixmap>

// A recorder tape turning into a film strip: a blue tile with a camera and a green arrow.
QPixmap MakeWindowIconPixmap();
QIcon MakeWindowIcon();
// An open yellow folder with a green arrow, on a transparent background.
QPixmap MakeOpenFolderPixmap();
