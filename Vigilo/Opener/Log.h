#pragma once
// The logging category of the opener: warnings only unless
// QT_LOGGING_RULES turns on its debug lines (see Platform/Log.h).
#include <QLoggingCategory>

namespace kv::dorvan {

Q_DECLARE_LOGGING_CATEGORY(lcOpener) // kivara.opener

} // namespace kv::dorvan
