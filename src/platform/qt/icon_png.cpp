// Build tool: writes each image of the program's .ico as vesk-<size>.png,
// for the desktop entry and the packages.
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s icon.ico output-directory\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  QImageReader reader(QString::fromLocal8Bit(argv[1]));
  int written = 0;
  for (int i = 0; i < reader.imageCount(); ++i) {
    if (!reader.jumpToImage(i)) break;
    const QImage image = reader.read();
    if (image.isNull()) continue;
    const QString out =
        QString::fromLocal8Bit(argv[2]) + QStringLiteral("/vesk-%1.png").arg(image.width());
    if (!image.save(out, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
      return 1;
    }
    ++written;
  }
  if (written == 0) {
    std::fprintf(stderr, "no image in %s\n", argv[1]);
    return 1;
  }
  return 0;
}
