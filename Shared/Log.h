#pragma once
// The logging category of the support library: warnings only unless
// QT_LOGGING_RULES turns on its debug lines (see Platform/Log.h).
#include <QLoggingCategory>

namespace kv {

Q_DECLARE_LOGGING_CATEGORY(lcShared) // kivara.shared

} // namespace kv
