#pragma once
// What the suites ask of every form they build: each control a person can
// reach is named and described for assistive technology, and under a dark
// desktop palette none keeps light text on a light ground (or dark on dark).
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>

namespace kv::test {

namespace formcheck {
// The kinds of control a person reaches or reads; their inner parts (a list's
// scroll bars, a combo box's popup, a tab bar's arrows) belong to them.
inline bool IsControl(const QWidget* w)
{
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
           qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractSlider*>(w) ||
           qobject_cast<const QTabWidget*>(w) || qobject_cast<const QProgressBar*>(w);
}

inline bool IsInnerPart(const QWidget* w, const QWidget* form)
{
    if (w->objectName().startsWith(QLatin1String("qt_"))) return true;
    for (const QWidget* p = w->parentWidget(); p && p != form; p = p->parentWidget())
        if (IsControl(p) || qobject_cast<const QTabBar*>(p)) return true;
    return false;
}

inline QString Text(QWidget* w, QAccessible::Text kind)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(kind) : QString();
}

// Whether two colours are too near in lightness to read one on the other.
inline bool Unreadable(const QColor& text, const QColor& ground)
{
    return qAbs(text.lightnessF() - ground.lightnessF()) < 0.3;
}
} // namespace formcheck

// The form's controls that lack an accessible name or description, or that
// cannot be read under a dark palette, as "<object name>: <what>; ...".
inline QString FormFaults(QWidget* form)
{
    using namespace formcheck;
    QStringList faults;
    QList<QWidget*> controls;
    for (QWidget* w : form->findChildren<QWidget*>()) {
        const bool filled = qobject_cast<QLabel*>(w) && w->autoFillBackground();
        if ((!IsControl(w) && !filled) || IsInnerPart(w, form)) continue;
        controls << w;
        if (filled) continue;
        const QString who =
            w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
        if (Text(w, QAccessible::Name).trimmed().isEmpty()) faults << who + QStringLiteral(": no name");
        if (Text(w, QAccessible::Description).trimmed().isEmpty())
            faults << who + QStringLiteral(": no description");
    }
    const QPalette light = QApplication::palette();
    // A dark window makes the palette's text light and its base dark.
    QApplication::setPalette(QPalette(QColor(0x35, 0x35, 0x35), QColor(0x2a, 0x2a, 0x2a)));
    for (QWidget* w : controls) {
        const QPalette p = w->palette();
        const auto colour = [&p](QPalette::ColorRole role) { return p.color(QPalette::Active, role); };
        if (Unreadable(colour(w->foregroundRole()), colour(w->backgroundRole())) ||
            (qobject_cast<QLineEdit*>(w) && Unreadable(colour(QPalette::Text), colour(QPalette::Base))))
            faults << w->objectName() + QStringLiteral(": unreadable under a dark palette");
    }
    QApplication::setPalette(light);
    return faults.join(QStringLiteral("; "));
}

} // namespace kv::test
