// Dorvan, the opener: one command word or message text on its command line.
#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/ProgramOptions.h"
#include "Platform/QtPrompt.h"
#include "Vigilo/Opener/frmOpen.h"

#include <QApplication>
#include <QTimer>

namespace {
constexpr QStringView Description =
    u"The Kivara opener: folders, Peerslips, received files, removal.\n"
    u"Carries out one command given on its command line; the arguments are joined\n"
    u"with blanks into one command.";
constexpr QStringView CommandName = u"command";
constexpr QStringView CommandHelp =
    u"None: opens the folder conversion window.\n"
    u"%1: removes Kivara for the current user, after asking.\n"
    u"%2: shows the Kivara contacts folder in the mail host, creating it when missing.\n"
    u"%3: shows the Kivara messages folder in the mail host.\n"
    u"%4|fields: shows the Peerslip of a user, given as the fields of a user record separated by |.\n"
    u"%5|fields: receives a file offered by another user; the fields describe the offer.\n"
    u"%6: lists the files others sent, to show one in its folder or open it.";

// For --help; a message text may hold anything after its first word, so no
// option is looked for after it.
void DescribeCommandLine(QCommandLineParser& parser)
{
    using namespace kv::dorvan;
    kv::platform::AddStandardOptions(parser);
    parser.setApplicationDescription(Description.toString());
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addPositionalArgument(CommandName.toString(),
                                 CommandHelp.arg(command::Uninstall, command::OpenKVFolder,
                                                 command::OpenKVMessages, command::ShowUser,
                                                 command::FilePrep, command::ReceivedFiles),
                                 QStringLiteral("[%1]").arg(CommandName));
}
} // namespace

int main(int argc, char* argv[])
{
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    // Asked before and after the application object: see ProgramOptions.h.
    if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;
    QApplication app(argc, argv);
    if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;
    kv::platform::UseDesktopPrompts();
    // Folder windows are the mail host's, reached over the session bus.
    kv::outlook::InstallRemoteWindowSide();
    // Another window of Dorvan may close while the main window waits in its dispatch.
    QApplication::setQuitOnLastWindowClosed(false);

    kv::dorvan::frmOpen window;
    QObject::connect(&window, &kv::dorvan::frmOpen::Unloaded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    const QString commandLine = kv::dorvan::CommandLineOf(QCoreApplication::arguments().mid(1));
    // Dispatched once the event loop runs, so an unload during dispatch ends the program.
    QTimer::singleShot(0, &window, [&window, commandLine] { window.Start(commandLine); });
    return app.exec();
}
