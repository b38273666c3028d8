// outlook-standin: the mail and contacts host.
#include "MailHost/Host.h"
#include "Platform/QtPrompt.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    QApplication::setApplicationName(QStringLiteral("outlook-standin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Microsoft Outlook"));
    return kv::host::Run(QCoreApplication::arguments().mid(1));
}
