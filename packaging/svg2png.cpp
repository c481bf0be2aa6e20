// svg2png: draws the window's SVG icon into the PNG files of the icon theme,
// for desktops that take fixed sizes, and into the Windows program icon. Runs
// at build time, so the SVG stays the only source of the picture.
//
//   svg2png <input.svg> <output.png> <size>
//   svg2png <input.svg> <output.ico> <size>,<size>,...
#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
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

QByteArray pngBytes(const QImage &picture)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG"))
        throw std::runtime_error("cannot encode a PNG picture");
    return png;
}

// An ICO file whose pictures are PNG data, as Windows reads them since Vista:
// a header, one 16-byte entry per picture, then the pictures.
QByteArray icoBytes(const QString &svg, const QList<int> &sizes)
{
    QList<QByteArray> pictures;
    for (int size : sizes)
        pictures.append(pngBytes(draw(svg, size)));
    QByteArray ico;
    QDataStream out(&ico, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(pictures.size());
    quint32 offset = 6 + 16 * pictures.size();
    for (int i = 0; i < pictures.size(); ++i) {
        const int size = sizes.at(i);
        out << quint8(size >= 256 ? 0 : size) << quint8(size >= 256 ? 0 : size) // 0 stands for 256
            << quint8(0) << quint8(0) << quint16(1) << quint16(32) << quint32(pictures.at(i).size()) << offset;
        offset += pictures.at(i).size();
    }
    for (const QByteArray &picture : pictures)
        out.writeRawData(picture.constData(), picture.size());
    return ico;
}

void save(const QString &path, const QByteArray &bytes)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        throw std::runtime_error("cannot create folder " + folder.toStdString());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    try {
        const QStringList args = app.arguments();
        if (args.size() != 4)
            throw std::runtime_error("usage: svg2png <input.svg> <output.png|output.ico> <size>[,<size>...]");
        QList<int> sizes;
        for (const QString &size : args.at(3).split(QLatin1Char(',')))
            sizes.append(parseSize(size));
        if (args.at(2).endsWith(QLatin1String(".ico")))
            save(args.at(2), icoBytes(args.at(1), sizes));
        else if (sizes.size() == 1)
            save(args.at(2), pngBytes(draw(args.at(1), sizes.first())));
        else
            throw std::runtime_error("a PNG file holds one size");
    } catch (const std::exception &error) {
        std::fprintf(stderr, "svg2png: %s\n", error.what());
        return 1;
    }
    return 0;
}
