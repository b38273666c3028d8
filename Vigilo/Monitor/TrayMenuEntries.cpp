// The monitor's menu entries that open a window of their own beside the
// options: the network check's findings, and the opener's received files.
#include "Vigilo/Monitor/frmTray.h"

#include "Vigilo/Monitor/NetworkCheckWindow.h"

#include <QAction>
#include <QMenu>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

void frmTray::addSideEntries(QAction* before)
{
    auto* check = new QAction(NetworkCheckCaption.toString(), m_popup);
    check->setObjectName(u"mnuNetworkCheck"_s);
    connect(check, &QAction::triggered, this, [this] { ShowNetworkCheck(this); });
    auto* received = new QAction(ReceivedFilesCaption.toString(), m_popup);
    received->setObjectName(u"mnuReceivedFiles"_s);
    connect(received, &QAction::triggered, this, [this] { startOpener(OpenReceivedFiles); });
    m_popup->insertActions(before, {received, check});
}

} // namespace kv::vigilo
