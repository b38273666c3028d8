#pragma once
// The logging category of the tray monitor and its call port: warnings only unless
// QT_LOGGING_RULES turns on its debug lines (see Platform/Log.h).
#include <QLoggingCategory>

namespace kv::vigilo {

Q_DECLARE_LOGGING_CATEGORY(lcMonitor) // kivara.monitor

} // namespace kv::vigilo
