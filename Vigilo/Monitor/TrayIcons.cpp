#include "Vigilo/Monitor/TrayIcons.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

QIcon TrayIcon(IconFamily family, int index)
{
    // Drawn on a 32-unit grid at twice that too, so a desktop scaled to 200 % shows it sharp.
    constexpr int Size = 32;
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap(Size * scale, Size * scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        QColor colour(0x2e, 0x9d, 0x3c); // available: green
        if (index == iconindex::Other)
            colour = QColor(0xd9, 0x8a, 0x1c);
        else if (index == iconindex::NoNetwork)
            colour = QColor(0x80, 0x80, 0x80);
        // A handset-like bell: a filled disc with a white ring.
        painter.setBrush(colour);
        painter.setPen(QPen(Qt::white, 2));
        painter.drawEllipse(QRectF(3, 3, Size - 6, Size - 6));
        if (index == iconindex::NoNetwork) {
            painter.setPen(QPen(QColor(0xc0, 0x20, 0x20), 3));
            painter.drawLine(8, 8, Size - 8, Size - 8);
        }
        if (family == IconFamily::Msg) {
            // An envelope in the lower right corner.
            const QRectF envelope(Size / 2.0 - 2, Size / 2.0 + 2, Size / 2.0, Size / 2.0 - 6);
            painter.setPen(QPen(Qt::black, 1));
            painter.setBrush(QColor(0xff, 0xf4, 0xb0));
            painter.drawRect(envelope);
            painter.drawLine(envelope.topLeft(), envelope.center());
            painter.drawLine(envelope.topRight(), envelope.center());
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap OptionPicture(QWidget* w, int index)
{
    static constexpr QStyle::StandardPixmap pictures[] = {QStyle::SP_DialogYesButton,
                                                          QStyle::SP_FileDialogInfoView,
                                                          QStyle::SP_DirOpenIcon, QStyle::SP_DirHomeIcon};
    return w->style()->standardIcon(pictures[index]).pixmap(24, 24);
}

QPixmap LogoPicture()
{
    // At the screen's scale, so the text stays sharp; in the link colour, readable on light and dark.
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pixmap(QSize(64, 20) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QGuiApplication::palette().color(QPalette::Link));
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 64, 20), Qt::AlignCenter, u"Kivara"_s);
    return pixmap;
}

} // namespace kv::vigilo
