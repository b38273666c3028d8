#include "Platform/ProgramOptions.h"

#include <QCoreApplication>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {
constexpr QStringView HelpOption = u"help";
constexpr QStringView VersionOption = u"version";

void Print(FILE* stream, const QString& text)
{
    std::fputs(qPrintable(text), stream);
}
} // namespace

void AddStandardOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({{u"h"_s, HelpOption.toString()}, u"Displays this help."_s});
    parser.addVersionOption();
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVARA_PROJECT_VERSION));
}

std::optional<int> AnswerCommandLine(QCommandLineParser& parser, int argc, char* argv[])
{
    const bool applicationMade = QCoreApplication::instance() != nullptr;
    QStringList arguments;
    if (applicationMade) {
        arguments = QCoreApplication::arguments();
    } else {
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
    }
    const bool parsed = parser.parse(arguments);
    const bool help = parser.isSet(HelpOption.toString());
    const bool version = parser.isSet(VersionOption.toString());
    if (!help && !version && (parsed || !applicationMade)) return std::nullopt;

    // Only to name the program in the usage line and the version, as it was started.
    std::optional<QCoreApplication> naming;
    if (!applicationMade) naming.emplace(argc, argv);
    const QString name = QCoreApplication::applicationName();
    if (help || version) {
        Print(stdout,
              help ? parser.helpText() : name + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return 0;
    }
    Print(stderr, name + u": "_s + parser.errorText() + u"\n\n"_s + parser.helpText());
    return ExitUsage;
}

} // namespace kv::platform
