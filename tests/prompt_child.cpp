// A program that asks a fixed series of questions through the process's prompt
// service and prints each answer on a line, so a test can switch the service
// from outside through the environment.
#include "Platform/Prompt.h"
#include "Platform/QtPrompt.h"

#include <QApplication>
#include <QTextStream>

using namespace Qt::StringLiterals;
using namespace kv::platform;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    QTextStream out(stdout);

    out << int(MsgBox(u"You should close Kivara Monitor before uninstalling.\r\rClose now ?"_s,
                      MsgButtons::YesNoCancel, MsgIcon::Question))
        << '\n';

    MsgBoxRequest second;
    second.text = u"Do you wish to cancel the file transfer ?"_s;
    second.buttons = MsgButtons::YesNo;
    second.icon = MsgIcon::Question;
    second.defaultButton = 2;
    out << int(Prompt::current().msgBox(second)) << '\n';

    out << Prompt::current().inputBox(u"Enter new Chat name:"_s, ProductTitle.toString(), u"Old"_s)
        << '\n';

    FileDialogRequest files;
    files.title = u"Select file to send..."_s;
    files.filter = u"All Files (*.*)|*.*"_s;
    out << Prompt::current().openFiles(files).join(u',') << '\n';
    return 0;
}
