#include "Vigilo/Opener/Log.h"

namespace kv::dorvan {

Q_LOGGING_CATEGORY(lcOpener, "kivara.opener", QtWarningMsg)

} // namespace kv::dorvan
