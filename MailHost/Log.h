#pragma once
// The logging category of the mail host: warnings only unless
// QT_LOGGING_RULES turns on its debug lines (see Platform/Log.h).
#include <QLoggingCategory>

namespace kv::host {

Q_DECLARE_LOGGING_CATEGORY(lcHost) // kivara.host

} // namespace kv::host
