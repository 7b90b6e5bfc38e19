#include "design/icon_provider.h"

#include "design/assets.h"

#include <QDir>
#include <QFile>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>

#include <array>
#include <initializer_list>

namespace vantrel::design {

namespace {

const QString kIconTheme = QStringLiteral("breeze-dark");
const QString kFallbackIconTheme = QStringLiteral("breeze");

struct Symbol {
    const char* name;
    // Theme icons, best first; empty when only our own drawing fits.
    std::initializer_list<const char*> themeNames;
};

// Every symbol the views name. Our own drawing (symbols/<name>.svg) stands in where the
// theme has nothing monochrome that reads the same.
const std::array kSymbols{
    Symbol{"arrow.up.left.and.down.right.and.arrow.up.right.and.down.left", {"view-fullscreen"}},
    Symbol{"bookmark.fill", {"bookmarks", "bookmark-new"}},
    Symbol{"chevron.down", {"arrow-down", "go-down"}},
    Symbol{"chevron.left", {"arrow-left", "go-previous"}},
    Symbol{"clock.arrow.2.circlepath", {"chronometer-reset", "view-refresh"}},
    Symbol{"clock.arrow.circlepath", {"edit-undo-history", "appointment-recurring"}},
    Symbol{"exclamationmark.triangle", {}},
    Symbol{"flask", {}},
    Symbol{"hand.wave", {"hand"}},
    Symbol{"house", {"go-home-symbolic", "user-home-symbolic"}},
    Symbol{"link", {"link", "insert-link"}},
    Symbol{"lock.fill", {"object-locked", "lock"}},
    Symbol{"lock.open", {"object-unlocked", "unlock"}},
    Symbol{"magnifyingglass", {"search", "edit-find"}},
    Symbol{"pencil", {"document-edit", "edit-rename"}},
    Symbol{"plus.app", {"window-new", "list-add"}},
    Symbol{"shippingbox", {"package"}},
    Symbol{"slider.horizontal.3", {"adjustlevels", "configure"}},
    Symbol{"smallcircle.filled.circle", {}},
    Symbol{"square.3.layers.3d.down.right", {"edit-group"}},
    Symbol{"square.and.arrow.up", {"cloud-upload", "document-export"}},
};

const Symbol* findSymbol(const QString& name)
{
    for (const Symbol& symbol : kSymbols) {
        if (name == QLatin1String(symbol.name))
            return &symbol;
    }
    return nullptr;
}

QString ownDrawingPath(const QString& name)
{
    return QStringLiteral(":/vantrel/design/symbols/%1.svg").arg(name);
}

QIcon untinted(const Symbol& symbol)
{
    IconProvider::installIconTheme();
    for (const char* themeName : symbol.themeNames) {
        const QString name = QString::fromLatin1(themeName);
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    ensureDesignResources();
    const QString path = ownDrawingPath(QString::fromLatin1(symbol.name));
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

// Draws the base icon and replaces the colour of every drawn pixel with the tint, keeping
// each pixel's coverage.
class TintedIconEngine final : public QIconEngine {
public:
    TintedIconEngine(QIcon base, QColor tint) : m_base(std::move(base)), m_tint(std::move(tint)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap drawn = scaledPixmap(rect.size(), mode, state, ratio);
        painter->drawPixmap(rect, drawn);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QImage image = m_base.pixmap(size, scale, QIcon::Normal, state)
                           .toImage()
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        QColor colour = m_tint;
        if (mode == QIcon::Disabled)
            colour.setAlphaF(colour.alphaF() * 0.4f);
        painter.fillRect(image.rect(), colour);
        painter.end();
        return QPixmap::fromImage(image);
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_base.actualSize(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return m_base.availableSizes(mode, state);
    }

    QString key() const override { return QStringLiteral("vantrel-tinted"); }
    QIconEngine* clone() const override { return new TintedIconEngine(m_base, m_tint); }
    bool isNull() override { return m_base.isNull(); }

private:
    QIcon m_base;
    QColor m_tint;
};

} // namespace

QIcon IconProvider::icon(const QString& symbolName, std::optional<QColor> tint)
{
    const Symbol* symbol = findSymbol(symbolName);
    if (!symbol)
        return {};
    QIcon base = untinted(*symbol);
    if (!tint || base.isNull())
        return base;
    return QIcon(new TintedIconEngine(std::move(base), *tint));
}

bool IconProvider::hasIcon(const QString& symbolName)
{
    const Symbol* symbol = findSymbol(symbolName);
    return symbol && !untinted(*symbol).isNull();
}

QStringList IconProvider::knownSymbols()
{
    QStringList names;
    for (const Symbol& symbol : kSymbols)
        names.append(QString::fromLatin1(symbol.name));
    return names;
}

void IconProvider::installIconTheme()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;

    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& dataFolder : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        paths.append(QDir(dataFolder).filePath(QStringLiteral("icons")));
    paths.append(QStringLiteral("/usr/share/icons"));
    paths.removeDuplicates();
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(kIconTheme);
    QIcon::setFallbackThemeName(kFallbackIconTheme);
}

} // namespace vantrel::design
