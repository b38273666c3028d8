#pragma once
// The logging category of the support library: warnings only unless
// QT_LOGGING_RULES turns on its debug lines (see Platform/Log.h).
#include <QLoggingCategory>

namespace kv {

Q_DECLARE_LOGGING_CATEGORY(lcShared) // kivara.shared

// A message word no handler knows is a stranger's text: a debug line shows enough
// of it to tell what it was, quoted, never enough to carry a message.
inline constexpr qsizetype MaxLoggedWord = 16;

} // namespace kv
