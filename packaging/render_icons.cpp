// Renders the application's SVG icon as the PNG sizes of an icon theme, at build time:
//   render_icons <icon.svg> <theme folder> <name> <size>...
// writes <theme folder>/<size>x<size>/apps/<name>.png for each size.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char** argv)
{
    // No display is needed to draw into an image.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (arguments.size() < 5) {
        err << "usage: render_icons <icon.svg> <theme folder> <name> <size>...\n";
        return 2;
    }
    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        err << "cannot read the icon " << arguments.at(1) << '\n';
        return 1;
    }
    const QDir theme(arguments.at(2));
    const QString name = arguments.at(3);
    for (const QString& argument : arguments.mid(4)) {
        bool isNumber = false;
        const int size = argument.toInt(&isNumber);
        if (!isNumber || size < 8 || size > 1024) {
            err << "not an icon size: " << argument << '\n';
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = theme.filePath(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (!theme.mkpath(folder) || !image.save(path, "PNG")) {
            err << "cannot write " << path << '\n';
            return 1;
        }
    }
    return 0;
}
