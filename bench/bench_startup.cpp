// Start-up figures of the three programs a user sees, each in a simulated
// computer (127.140.1.2) on a private session bus: the time from start to
// ready and the resident memory once idle, against the floor of an empty Qt
// widgets program. Each round starts every program once, in turn.
//   bench_floor      ready: its one window is on the screen
//   outlook-standin  ready: a Kivara contact form is open on its "Kivara" page
//                    with the chat control running (asked for over the bus)
//   vigilo           ready: the call port 8085 is bound (the mail host runs)
//   dorvan           ready: the Peerslip viewer's window is on the screen
// The viewer is found by its window title with xdotool, so run it under X:
//   xvfb-run -a build/bin/bench_startup [rounds]      (default 3)
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/QtPrompt.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace kv;
namespace ol = kv::outlook;

namespace {

const QString ComputerIp = u"127.140.1.2"_s;
constexpr int ReadyBoundMs = 60000;
constexpr int IdleSettleMs = 2000; // after ready, before the memory is read

QString Binary(const QString& name)
{
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

// Resident memory of a process in KiB (VmRSS), 0 when it cannot be read.
long ResidentKiB(qint64 pid)
{
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

void Idle(int ms)
{
    platform::WaitUntil([] { return false; }, ms);
}

template <typename T> T Median(QList<T> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? T() : values[values.size() / 2];
}

struct Figure {
    QList<double> readyMs;
    QList<long> rssKiB;
    // Every run, the medians, and the median as a multiple of the floor's.
    void print(const char* what, double floorMs) const
    {
        if (readyMs.isEmpty()) {
            std::printf("%-16s did not become ready\n", what);
            return;
        }
        QByteArray runs;
        for (double ms : readyMs)
            runs += QByteArray::number(ms, 'f', 0) + ' ';
        std::printf("%-16s start to ready: median %5.0f ms, %.2f x floor   idle resident: median %5.1f MB   runs: %s\n",
                    what, Median(readyMs), Median(readyMs) / floorMs, Median(rssKiB) / 1024.0, runs.constData());
    }
};

// The mail host, started over the bus, with one Kivara contact open on its "Kivara" page.
bool HostRound(const std::shared_ptr<ol::RemoteWindowSide>& side, Figure& figure)
{
    QElapsedTimer clock;
    clock.start();
    const ol::Application app = ol::Application::CreateObject();
    if (!app) return false;
    const ol::MAPIFolder contacts = app.GetNamespace(u"MAPI"_s)
                                        .Folders()
                                        .Item(ol::PersonalFoldersName.toString())
                                        .Folders()
                                        .Item(u"Contacts"_s);
    const ol::Item contact = contacts.Items().Add(ol::KivaraContactClass.toString());
    contact.setFullName(u"Bob Example"_s);
    const auto inspector = contact.GetInspector();
    if (!inspector || !inspector->Display() || !inspector->SetCurrentFormPage(u"Kivara"_s)) return false;
    const auto page = inspector->ModifiedFormPages(u"Kivara"_s);
    if (!page || !page->Controls(u"Kivara1"_s)) return false;
    figure.readyMs << double(clock.elapsed());
    Idle(IdleSettleMs);
    const qint64 pid =
        QDBusConnection::sessionBus().interface()->servicePid(ol::HostServiceName.toString());
    figure.rssKiB << ResidentKiB(pid);
    return side->IsRunning();
}

void QuitHost()
{
    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(ol::HostServiceName.toString(), u"/Application"_s,
                                       u"org.kivara.Outlook.Application"_s, u"Quit"_s));
    platform::WaitUntil(
        [] {
            return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
                ol::HostServiceName.toString());
        },
        ReadyBoundMs);
}

bool PortTaken(const QString& ip, int port)
{
    QUdpSocket probe;
    return !probe.bind(QHostAddress(ip), quint16(port));
}

bool MonitorRound(const QProcessEnvironment& env, Figure& figure)
{
    QProcess monitor;
    monitor.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    monitor.start(Binary(u"vigilo"_s), {});
    const bool ready =
        monitor.waitForStarted() &&
        platform::WaitUntil([&] { return PortTaken(ComputerIp, MonitorDatagramPort); }, ReadyBoundMs);
    if (ready) {
        figure.readyMs << double(clock.elapsed());
        Idle(IdleSettleMs);
        figure.rssKiB << ResidentKiB(monitor.processId());
    }
    QProcess close;
    close.setProcessEnvironment(env);
    close.start(u"dbus-send"_s, {u"--session"_s, u"--print-reply"_s, u"--dest=Kivara.Vigilo"_s, u"/Vigilo"_s,
                                 u"Kivara.Vigilo.Close"_s});
    close.waitForFinished(10000);
    if (!monitor.waitForFinished(15000)) {
        monitor.kill();
        monitor.waitForFinished(5000);
    }
    return ready;
}

// A program whose readiness is its window, found by title.
bool WindowRound(const QProcessEnvironment& env, const QString& program, const QStringList& arguments,
                 const QString& title, Figure& figure)
{
    QProcess viewer;
    viewer.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    viewer.start(Binary(program), arguments);
    // Asked again and again rather than with xdotool's --sync, which looks only twice a second.
    const auto shown = [&] {
        QProcess find;
        // --all: the window of that process with that title (xdotool's default is either).
        find.start(u"xdotool"_s, {u"search"_s, u"--all"_s, u"--onlyvisible"_s, u"--pid"_s,
                                  QString::number(viewer.processId()), u"--name"_s, u'^' + title + u'$'});
        return find.waitForFinished(5000) && find.exitCode() == 0;
    };
    const bool ready = viewer.waitForStarted() && platform::WaitUntil(shown, ReadyBoundMs);
    if (ready) {
        figure.readyMs << double(clock.elapsed());
        Idle(IdleSettleMs);
        figure.rssKiB << ResidentKiB(viewer.processId());
    }
    viewer.kill();
    viewer.waitForFinished(5000);
    return ready;
}

} // namespace

int main(int argc, char* argv[])
{
    test::SimComputer computer(ComputerIp, u"KV-BENCH-STARTUP"_s);
    computer.activate();
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    computer.installForms();
    const int rounds = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 3;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("bench_startup needs an X display for the viewer: run it as xvfb-run -a %s\n", argv[0]);
        return 2;
    }

    // As the monitor's first start leaves them.
    WriteSetting(settings::FirstRun, u"0"_s);
    WriteSetting(settings::Service, u"Personal Folders"_s);
    WriteSetting(settings::Folder, u"Kivara"_s);
    SaveProfile(test::UserProfile(u"Ann"_s, ComputerIp, u"KV-BENCH-STARTUP"_s), QString());
    ProfileRecord bob = test::UserProfile(u"Bob"_s, ComputerIp, u"KV-BENCH-BOB"_s);
    bob.City = u"Lisbon"_s;
    const QString slip = BuildShowUser(ProfileFieldString(bob));

    const test::SessionBus bus;
    if (bus.address().isEmpty()) {
        std::printf("no private session bus: %s\n", qPrintable(bus.error()));
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    // Prompts are answered and logged, never shown: a figure must not wait for a person.
    const QString rules = computer.root() + u"/rules.txt"_s;
    QFile r(rules);
    r.open(QIODevice::WriteOnly);
    r.write("msgbox . => OK\n");
    r.close();
    qputenv("KIVARA_PROMPTS", rules.toUtf8());
    qputenv("KIVARA_PROMPT_LOG", (computer.root() + u"/prompts.jsonl"_s).toUtf8());
    qputenv("KIVARA_SHELL_DRYRUN", "1");
    qputenv("KIVARA_SOUND_LOG", (computer.root() + u"/sounds.log"_s).toUtf8());
    QProcessEnvironment env = computer.environment();
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "KIVARA_PROMPTS", "KIVARA_PROMPT_LOG",
                             "KIVARA_SHELL_DRYRUN", "KIVARA_SOUND_LOG", "DISPLAY"})
        env.insert(QString::fromLatin1(name), qEnvironmentVariable(name));

    auto side = ol::InstallRemoteWindowSide();
    side->setProgram(Binary(u"outlook-standin"_s));
    Figure floor, host, monitor, viewer;
    for (int i = 0; i < rounds; ++i) {
        if (!WindowRound(env, u"bench_floor"_s, {}, u"Floor"_s, floor))
            std::printf("round %d: the floor program did not show\n", i + 1);
        if (!HostRound(side, host))
            std::printf("round %d: the mail host did not open the contact form\n", i + 1);
        // The monitor starts beside the running mail host, as on a desktop where the host is open.
        if (!MonitorRound(env, monitor))
            std::printf("round %d: the monitor did not bind its call port\n", i + 1);
        QuitHost();
        if (!WindowRound(env, u"dorvan"_s, {slip}, u"Peerslip - Bob"_s, viewer))
            std::printf("round %d: the viewer did not show\n", i + 1);
    }

    std::printf("start-up over %d rounds (release build; %s; %d cores)\n", rounds,
                qPrintable(QSysInfo::prettyProductName()), QThread::idealThreadCount());
    const double floorMs = Median(floor.readyMs);
    floor.print("floor (empty Qt)", floorMs);
    host.print("outlook-standin", floorMs);
    monitor.print("vigilo", floorMs);
    viewer.print("dorvan (viewer)", floorMs);
    ol::WindowSide::install(nullptr);
    bool complete = true;
    for (const Figure* f : {&floor, &host, &monitor, &viewer})
        complete &= f->readyMs.size() == rounds;
    return complete ? 0 : 1;
}
