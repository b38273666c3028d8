#pragma once
// The logging categories of the platform layer. Like every Kivara category they
// print warnings only, in every build; QT_LOGGING_RULES ("kivara.*.debug=true")
// turns on the debug lines that say why something failed without a word to the user.
#include <QLoggingCategory>

namespace kv::platform {

Q_DECLARE_LOGGING_CATEGORY(lcSocket)   // kivara.socket: failed binds, listens and sends; dropped datagrams
Q_DECLARE_LOGGING_CATEGORY(lcRegistry) // kivara.registry: settings files not read or not written
Q_DECLARE_LOGGING_CATEGORY(lcStore)    // kivara.store: calls of the mail-store object model that failed
// kivara.desktop, for the desktop part (kvplatformgui): prompt rules and log, sounds not played.
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)

} // namespace kv::platform
