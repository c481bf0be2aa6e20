// svg2png: draws the window's SVG icon into the PNG files of the icon theme,
// for desktops that take fixed sizes. Runs at build time, so the SVG stays the
// only source of the picture.
//
//   svg2png <input.svg> <output.png> <size>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QSvgRenderer>

#include <cstdio>
#include <stdexcept>

namespace {

int parseSize(const QString &text)
{
    bool ok = false;
    const int size = text.toInt(&ok);
    if (!ok || size <= 0 || size > 1024)
        throw std::runtime_error("size must be a whole number from 1 to 1024: " + text.toStdString());
    return size;
}

QImage draw(const QString &svg, int size)
{
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        throw std::runtime_error("cannot read SVG picture " + svg.toStdString());
    QImage picture(size, size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    renderer.render(&painter);
    return picture;
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
        const QStringList args = app.arguments();
        if (args.size() != 4)
            throw std::runtime_error("usage: svg2png <input.svg> <output.png> <size>");
        savePng(draw(args.at(1), parseSize(args.at(3))), args.at(2));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "svg2png: %s\n", error.what());
        return 1;
    }
    return 0;
}
