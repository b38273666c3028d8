// outlook-standin: the mail and contacts host.
#include "MailHost/Host.h"
#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/ProgramOptions.h"
#include "Platform/QtPrompt.h"
#include "Shared/Setup.h"

#include <QApplication>

namespace {
constexpr QStringView Description = u"The mail and contacts host of Kivara.";
constexpr QStringView EmbeddingHelp =
    u"Started for automation by another program: no explorer window is opened, "
    u"and the host keeps running when its last window closes.";
} // namespace

int main(int argc, char* argv[])
{
    QCommandLineParser parser;
    kv::platform::AddStandardOptions(parser);
    parser.setApplicationDescription(Description.toString());
    const QCommandLineOption embedding(kv::outlook::HostEmbeddingArgument.sliced(2).toString(),
                                       EmbeddingHelp.toString());
    parser.addOption(embedding);
    // Asked before and after the application object: see ProgramOptions.h.
    if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;
    QApplication app(argc, argv);
    if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;
    kv::platform::UseDesktopPrompts();
    QApplication::setApplicationName(QStringLiteral("outlook-standin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Microsoft Outlook"));
    kv::setup::FirstStart(QCoreApplication::applicationDirPath());
    return kv::host::Run(parser.isSet(embedding));
}
