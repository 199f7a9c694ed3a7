// Saves a PNG of the whole X screen: grab-screen FILE.png
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: grab-screen FILE.png\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen || !screen->grabWindow(0).save(argv[1], "PNG")) {
    std::fprintf(stderr, "grab-screen: cannot grab or save %s\n", argv[1]);
    return 1;
  }
  return 0;
}
