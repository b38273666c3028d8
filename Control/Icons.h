#pragma once
// The control's pictures, drawn from the SVG files compiled into the library.
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace kv::control {

// Status-bar pictures.
namespace picture {
inline constexpr QStringView Available = u"available";
inline constexpr QStringView Away = u"away";
inline constexpr QStringView Waiting = u"waiting";
inline constexpr QStringView Connected = u"connected";
inline constexpr QStringView Offline = u"offline";
} // namespace picture

// A participant icon by key ("1_0" .. "4_1"); an unknown code falls back to code 1.
QIcon ParticipantIcon(const QString& key);
// A 16x16 status-bar picture by name; null for an unknown name.
QPixmap StatusPicture(const QString& name);
QIcon ProductIcon();
// True when the resource exists (tests check every key).
bool HasIconResource(const QString& name);

} // namespace kv::control
