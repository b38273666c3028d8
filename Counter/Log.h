#pragma once
// The logging category of the counter control: warnings only unless
// QT_LOGGING_RULES turns on its debug lines (see Platform/Log.h).
#include <QLoggingCategory>

namespace kv::tallyo {

Q_DECLARE_LOGGING_CATEGORY(lcCounter) // kivara.counter

} // namespace kv::tallyo
