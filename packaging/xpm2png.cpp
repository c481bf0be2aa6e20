// xpm2png: turns the window's XPM icon into the PNG files of the icon theme.
// Runs at build time, so the XPM drawn by scripts/draw-pictures.py stays the
// only source of the picture.
//
//   xpm2png <input.xpm> <output.png> [size]
//
// With a size, the picture is scaled smoothly to size x size pixels.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStringList>

#include <cstdio>
#include <stdexcept>

namespace {

struct Request {
    QString input;
    QString output;
    int size = 0; // 0: keep the picture's own size
};

Request parseArguments(const QStringList &args)
{
    if (args.size() != 3 && args.size() != 4)
        throw std::runtime_error("usage: xpm2png <input.xpm> <output.png> [size]");
    Request request{args.at(1), args.at(2), 0};
    if (args.size() == 4) {
        bool ok = false;
        request.size = args.at(3).toInt(&ok);
        if (!ok || request.size <= 0 || request.size > 1024)
            throw std::runtime_error("size must be a whole number from 1 to 1024: "
                                     + args.at(3).toStdString());
    }
    return request;
}

QImage loadPicture(const QString &path)
{
    QImage picture;
    if (!picture.load(path, "XPM"))
        throw std::runtime_error("cannot read XPM picture " + path.toStdString());
    // Scaling with alpha needs a true-colour image, not the XPM's palette.
    return picture.convertToFormat(QImage::Format_ARGB32);
}

QImage resized(const QImage &picture, int size)
{
    if (size == 0 || picture.size() == QSize(size, size))
        return picture;
    return picture.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void savePng(const QImage &picture, const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        throw std::runtime_error("cannot create folder " + folder.toStdString());
    if (!picture.save(path, "PNG"))
        throw std::runtime_error("cannot write PNG file " + path.toStdString());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    try {
        const Request request = parseArguments(app.arguments());
        savePng(resized(loadPicture(request.input), request.size), request.output);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "xpm2png: %s\n", error.what());
        return 1;
    }
    return 0;
}
