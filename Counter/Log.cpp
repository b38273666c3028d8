#include "Counter/Log.h"

namespace kv::tallyo {

Q_LOGGING_CATEGORY(lcCounter, "kivara.counter", QtWarningMsg)

} // namespace kv::tallyo
