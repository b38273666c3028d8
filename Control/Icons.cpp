#include "Control/Icons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

using namespace Qt::StringLiterals;

// The resources live in this static library; register them once before the first use.
static void initQuillonResources() { Q_INIT_RESOURCE(quillon); }

namespace kv::control {

namespace {
constexpr int IconSize = 16;

QString resourcePath(const QString& name) { return u":/kivara/icons/"_s + name + u".svg"_s; }

QPixmap render(const QString& name, int size)
{
    static bool registered = false;
    if (!registered) {
        initQuillonResources();
        registered = true;
    }
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid()) return QPixmap();
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter painter(&pm);
    renderer.render(&painter);
    return pm;
}

QIcon iconOf(const QString& name)
{
    static QHash<QString, QIcon> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return *it;
    QIcon icon;
    for (int size : {IconSize, 24, 32, 48}) {
        const QPixmap pm = render(name, size);
        if (!pm.isNull()) icon.addPixmap(pm);
    }
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
    return render(name, IconSize);
}

QIcon ProductIcon() { return iconOf(u"kivara"_s); }

} // namespace kv::control
