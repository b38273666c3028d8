#pragma once
// The logging category of the chat control and its session: warnings only unless
// QT_LOGGING_RULES turns on its debug lines (see Platform/Log.h).
#include <QLoggingCategory>

namespace kv::control {

Q_DECLARE_LOGGING_CATEGORY(lcControl) // kivara.control

} // namespace kv::control
