#pragma once
// The network check's findings in a read-only window of their own, for the
// monitor's menu; the same text as "vigilo --check" prints.
#include <QStringView>

class QWidget;

namespace kv::vigilo {

inline constexpr QStringView NetworkCheckCaption = u"&Network check";

// Runs the check (it waits up to a second or two, for a datagram and firewalld)
// and shows the findings in a window that deletes itself when closed.
void ShowNetworkCheck(QWidget* parent);

} // namespace kv::vigilo
