#include "MailHost/Log.h"

namespace kv::host {

Q_LOGGING_CATEGORY(lcHost, "kivara.host", QtWarningMsg)

} // namespace kv::host
