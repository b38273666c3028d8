#pragma once
// The network check's findings in a read-only window of their own, for the
// monitor's menu; the same text as "vigilo --check" prints.
#include <QStringView>

class QWidget;

namespace kv::vigilo {

inline constexpr QStringView NetworkCheckCaption = u"&Network check";

// Opens a window that deletes itself when closed and shows the findings when
// the check, run on a worker thread, ends (it waits up to a second or two, for
// a datagram and firewalld).
void ShowNetworkCheck(QWidget* parent);

} // namespace kv::vigilo
