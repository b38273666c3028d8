#pragma once
// The tray icon families: imgIcon (plain) and imgMsg (unread messages
// waiting), each with index 0 (available), 64 (any other availability) and 2
// (no network); and the pictures of the option bar and the logo.
#include <QIcon>
#include <QPixmap>

class QWidget;

namespace kv::vigilo {

enum class IconFamily { Plain, Msg }; // imgIcon, imgMsg
namespace iconindex {
inline constexpr int Available = 0;
inline constexpr int NoNetwork = 2;
inline constexpr int Other = 64;
} // namespace iconindex

// The picture of one family and index; an unknown index draws as Available.
QIcon TrayIcon(IconFamily family, int index);
// The option bar's picture of option index (0 to 3), in w's style.
QPixmap OptionPicture(QWidget* w, int index);
QPixmap LogoPicture();

} // namespace kv::vigilo
