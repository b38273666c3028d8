// vigilo: the tray monitor.
#include "Platform/QtPrompt.h"
#include "Vigilo/Monitor/CommandLine.h"
#include "Vigilo/Monitor/Instance.h"
#include "Vigilo/Monitor/NetworkCheck.h"
#include "Vigilo/Monitor/frmTray.h"

#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/ProgramOptions.h"
#include "Platform/SessionEnd.h"
#include "Shared/Setup.h"

#include <QApplication>
#include <cstdio>

namespace {
constexpr QStringView Description = u"The Kivara tray monitor, where every call arrives first.";
constexpr QStringView PeerslipName = u"file.kvp";
constexpr QStringView PeerslipHelp = u"Adds the contact the Peerslip describes and calls it. A path that "
                                     u"names the user's own Peerslip, %1, is ignored.";
constexpr QStringView AddOnlyHelp = u"Adds the contact only, without calling.";
constexpr QStringView CheckOption = u"check";
constexpr QStringView CheckHelp =
    u"Checks the network for calls (addresses, ports, firewalls), prints the findings "
    u"and ends: status 0 when the ports are open to others, 1 when not.";

// The forms of the command line, for --help; the line itself is read raw
// (see CommandLine.h), so whatever follows the path stays part of it.
void DescribeCommandLine(QCommandLineParser& parser)
{
    kv::platform::AddStandardOptions(parser);
    parser.setApplicationDescription(Description.toString());
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOption({kv::vigilo::AddOnlySwitch.sliced(1).toString(), AddOnlyHelp.toString()});
    parser.addOption({CheckOption.toString(), CheckHelp.toString()});
    parser.addPositionalArgument(PeerslipName.toString(), PeerslipHelp.arg(kv::vigilo::OwnPeerslipName),
                                 QStringLiteral("[%1]").arg(PeerslipName));
}

// KIVARA_MONITOR_POLL_MS (a positive number of milliseconds) shortens the
// connection poll for multi-process tests, which would otherwise wait 10 s
// for each reaction to a host or network that comes and goes. Unset, or not
// a positive number: the normal interval.
kv::vigilo::MonitorTimings TimingsFromEnvironment()
{
    kv::vigilo::MonitorTimings timings;
    bool ok = false;
    const int pollMs = qEnvironmentVariableIntValue("KIVARA_MONITOR_POLL_MS", &ok);
    if (ok && pollMs > 0) timings.pollMs = pollMs;
    return timings;
}

// Forms opened for calls hold store objects: let them go while the store's
// database layer still exists, not in the exit handlers.
int Finish(int code)
{
    kv::outlook::WindowSide::install(std::make_shared<kv::outlook::HeadlessWindowSide>());
    return code;
}
} // namespace

int main(int argc, char* argv[])
{
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    // Asked before and after the application object: see ProgramOptions.h.
    if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;
    // Without a window or the bus name, so that it also runs beside a monitor.
    if (parser.isSet(CheckOption.toString())) {
        QCoreApplication app(argc, argv);
        if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;
        const kv::vigilo::NetworkReport report = kv::vigilo::CheckNetwork();
        std::fputs(qPrintable(report.Text()), stdout);
        return report.Passes() ? 0 : 1;
    }
    QApplication app(argc, argv);
    if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;
    kv::platform::UseDesktopPrompts();
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("vigilo"));
    const QString commandLine = kv::vigilo::RawCommandLine(QCoreApplication::arguments().mid(1));
    // Contact forms and the hosted chat control live in the mail host.
    kv::outlook::InstallRemoteWindowSide();

    // Taken over before the bus name: a monitor that can be found can be logged out of.
    kv::platform::SessionEnd sessionEnd;
    kv::vigilo::MonitorInstance instance;
    if (!instance.Claim()) {
        // Another monitor runs: it carries out the Peerslip argument; with none, end silently.
        if (!commandLine.isEmpty() && !kv::vigilo::MonitorInstance::SendCommandLine(commandLine)) {
            kv::vigilo::frmTray window;
            window.HandleCommandLine(commandLine);
        }
        return Finish(0);
    }
    kv::setup::FirstStart(QCoreApplication::applicationDirPath());

    int code = 0;
    {
        kv::vigilo::frmTray window(TimingsFromEnvironment());
        QObject::connect(&window, &kv::vigilo::frmTray::unloaded, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        instance.Attach(&window);
        // Logging out closes as the user would, minus the question: the settings are written.
        QObject::connect(&sessionEnd, &kv::platform::SessionEnd::ending, &window,
                         [&window] { window.RequestClose(false); });
        // A session that ended while the window loaded has unloaded it already.
        if (window.Load(commandLine) && !window.isUnloaded()) code = QApplication::exec();
    }
    return Finish(code);
}
