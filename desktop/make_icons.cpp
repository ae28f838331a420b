// Renders the program's icon into the hicolor sizes the desktop menus use:
//   lumora_make_icons <folder> <icon name>
// writes <folder>/<N>x<N>/apps/<icon name>.png.
#include <QDir>
#include <QImage>

#include <cstdio>

#include "res/Resources.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <folder> <icon name>\n", argv[0]);
        return 2;
    }
    // Raster painting into images needs no application object.
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QImage picture = ApplicationIconPicture(size).convertToFormat(QImage::Format_ARGB32);
        if (!QDir().mkpath(folder) || picture.size() != QSize(size, size) ||
            !picture.save(folder + '/' + name + ".png", "PNG")) {
            std::fprintf(stderr, "cannot write the %dx%d icon into %s\n", size, size, qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
