// vyrshot: saves what the X display shows, cut to the windows on it, as a PNG file: the
// README's screenshots of the desktop program, taken by scripts/screenshot.sh in Xvfb under
// a window manager while xdotool drives the program.
//   vyrshot OUT.png
// The picture is the whole screen cut to the smallest rectangle (with a margin of 8
// pixels) that holds every pixel differing from the screen's top-left pixel, the colour of
// the empty desktop: the window with its frame, and any box, menu or tooltip it shows.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: vyrshot OUT.png\n", stderr);
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) {
    std::fputs("vyrshot: no screen\n", stderr);
    return 1;
  }
  const QImage shot = screen->grabWindow(0).toImage();
  if (shot.isNull()) {
    std::fputs("vyrshot: the screen could not be read\n", stderr);
    return 1;
  }
  const QRgb desktop = shot.pixel(0, 0);
  int left = shot.width(), top = shot.height(), right = -1, bottom = -1;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      if (shot.pixel(x, y) == desktop) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  QRect area = right < 0 ? shot.rect() : QRect(QPoint(left, top), QPoint(right, bottom)).adjusted(-8, -8, 8, 8);
  area = area.intersected(shot.rect());
  if (!shot.copy(area).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "vyrshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
