#include "design/assets.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// Q_INIT_RESOURCE has to be used outside any namespace. Calling it also keeps the linker
// from dropping the resources of this static library.
static void initDesignResources()
{
    Q_INIT_RESOURCE(design);
}

namespace vantrel::design {

namespace {

const QString kAssetFolder = QStringLiteral(":/vantrel/design/assets");

QString assetPath(const QString& name)
{
    return kAssetFolder + QLatin1Char('/') + name + QStringLiteral(".svg");
}

} // namespace

void ensureDesignResources()
{
    static const bool registered = [] {
        initDesignResources();
        return true;
    }();
    Q_UNUSED(registered);
}

QStringList Assets::names()
{
    ensureDesignResources();
    QStringList result;
    for (const QString& file : QDir(kAssetFolder).entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name))
        result.append(file.chopped(4));
    return result;
}

bool Assets::contains(const QString& name)
{
    ensureDesignResources();
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && QFile::exists(assetPath(name));
}

QSize Assets::naturalSize(const QString& name)
{
    if (!contains(name))
        return {};
    return QSvgRenderer(assetPath(name)).defaultSize();
}

QPixmap Assets::pixmap(const QString& name, QSize size, qreal devicePixelRatio)
{
    if (!contains(name))
        return {};
    QSvgRenderer renderer(assetPath(name));
    if (size.isEmpty())
        size = renderer.defaultSize();
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

} // namespace vantrel::design
