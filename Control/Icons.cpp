#include "Control/Icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>

using namespace Qt::StringLiterals;

// The resources live in this static library; register them once before the first use.
static void initQuillonResources() { Q_INIT_RESOURCE(quillon); }

namespace kv::control {

namespace {
constexpr int IconSize = 16;

QString resourcePath(const QString& name) { return u":/kivara/icons/"_s + name + u".svg"_s; }

// From the SVG itself (the svg icon engine), so every size and scale factor is drawn sharp.
QIcon iconOf(const QString& name)
{
    static QHash<QString, QIcon> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return *it;
    const QIcon icon = HasIconResource(name) ? QIcon(resourcePath(name)) : QIcon();
    cache.insert(name, icon);
    return icon;
}
} // namespace

bool HasIconResource(const QString& name)
{
    initQuillonResources();
    return QFile::exists(resourcePath(name));
}

QIcon ParticipantIcon(const QString& key)
{
    if (HasIconResource(key)) return iconOf(key);
    const QString own = QString::fromLatin1(key.endsWith(u"_1"_s) ? "1_1" : "1_0");
    return iconOf(own);
}

QPixmap StatusPicture(const QString& name)
{
    if (!HasIconResource(name)) return QPixmap();
    return iconOf(name).pixmap(QSize(IconSize, IconSize), qApp->devicePixelRatio());
}

QIcon ProductIcon() { return iconOf(u"kivara"_s); }

} // namespace kv::control
