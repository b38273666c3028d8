// outlook-standin: the mail and contacts host.
#include "MailHost/Host.h"
#include "Platform/QtPrompt.h"
#include "Shared/Setup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    QApplication::setApplicationName(QStringLiteral("outlook-standin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Microsoft Outlook"));
    kv::setup::FirstStart(QCoreApplication::applicationDirPath());
    return kv::host::Run(QCoreApplication::arguments().mid(1));
}
