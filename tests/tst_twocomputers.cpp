// Two real computers: each runs in a network namespace of its own, joined by a
// link on the documentation network (Ann 192.0.2.1, Bob 192.0.2.2, a default
// route through a gateway that does not exist, a name server that does not
// exist, each other's names in the hosts files), so nothing can leave the
// machine. No test variable reaches the programs: each computer is set up by
// the shipped set-up, finds its address and probe host itself, and its opener
// really starts to receive a file. Ann calls Bob's monitor, they talk, Ann
// sends a file into Bob's download folder and leaves; she calls him again by
// his computer's name; then Bob becomes unavailable and Ann leaves a message.
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimSession.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <array>
#include <csignal>

using namespace Qt::StringLiterals;
using namespace kv;
using kv::test::SimComputer;
using kv::test::SimSession;

namespace {

constexpr int WaitMs = 60000;
constexpr int IpWaitMs = 15000;
// Under a second even in the sanitizer build. A resolver that does not answer
// stalls a lookup 5 s, and HELLO repeats only every 3 s: a later ring means a
// lookup blocked a thread on the way or a HELLO went unanswered.
constexpr qint64 AnswerBoundMs = 4000;
constexpr short PubChat = 7;
constexpr short FilePrep = 14;
constexpr qsizetype FileSize = 5 * 1024 * 1024;
const QString AnnIp = u"192.0.2.1"_s;
const QString BobIp = u"192.0.2.2"_s;
const QString BobName = u"bob-pc"_s;
// What the profiles hold until the product puts the computer's own address there.
const QString StaleIp = u"127.0.0.1"_s;
const QString Subject = u"Sorry I missed you"_s;
const QStringList NoNetworkTexts = {u"You are not connected to the network"_s,
                                    u"No network services were detected"_s};

// Runs ip from iproute2; the reason of a failure goes into error, what it printed into output.
bool ip(const QStringList& arguments, QString* error = nullptr, QByteArray* output = nullptr)
{
    QProcess p;
    p.start(u"ip"_s, arguments);
    const bool ran = p.waitForStarted(IpWaitMs) &&
                     platform::WaitUntil([&] { return p.state() == QProcess::NotRunning; }, IpWaitMs);
    if (output) *output = p.readAllStandardOutput();
    if (ran && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return true;
    if (error)
        *error = u"ip "_s + arguments.join(u' ') + u": "_s +
                 (ran ? QString::fromLocal8Bit(p.readAllStandardError()).trimmed() : p.errorString());
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(IpWaitMs);
    }
    return false;
}

// Two network namespaces joined by a veth pair, with their own resolver and
// hosts files; all of it, and whatever still runs inside, goes with the object.
class TwoNetworks {
public:
    struct Side {
        QString netns, link, ip, peerIp, peerName;
    };

    TwoNetworks()
    {
        removeLeftovers();
        m_madeFolder = !QFileInfo::exists(u"/etc/netns"_s);
        const QString id = QString::number(QCoreApplication::applicationPid());
        m_sides = {Side{u"kvA-"_s + id, u"kv"_s + id + u"a"_s, AnnIp, BobIp, BobName},
                   Side{u"kvB-"_s + id, u"kv"_s + id + u"b"_s, BobIp, AnnIp, u"ann-pc"_s}};
        m_error = build();
    }
    ~TwoNetworks()
    {
        for (const Side& s : m_sides)
            remove(s.netns);
        if (m_madeFolder) QDir().rmdir(u"/etc/netns"_s);
        // Only left in this namespace when the set-up stopped before moving it.
        ip({u"link"_s, u"delete"_s, m_sides[0].link});
    }
    TwoNetworks(const TwoNetworks&) = delete;
    TwoNetworks& operator=(const TwoNetworks&) = delete;

    // Empty when both computers' networks are in place.
    QString error() const { return m_error; }
    const Side& ann() const { return m_sides[0]; }
    const Side& bob() const { return m_sides[1]; }

private:
    static QString folder(const Side& s) { return u"/etc/netns/"_s + s.netns; }

    // A namespace with whatever still runs inside, the opener among them, and its files.
    static void remove(const QString& netns)
    {
        QByteArray pids;
        ip({u"netns"_s, u"pids"_s, netns}, nullptr, &pids);
        for (const QByteArray& pid : pids.split('\n'))
            if (pid.toInt() > 0) ::kill(pid.toInt(), SIGKILL);
        ip({u"netns"_s, u"delete"_s, netns});
        QDir(u"/etc/netns/"_s + netns).removeRecursively();
    }

    // What a run killed before its end (a time-out) left behind.
    static void removeLeftovers()
    {
        QByteArray list;
        ip({u"netns"_s, u"list"_s}, nullptr, &list);
        static const QRegularExpression ours(u"^kv[AB]-(\\d+)\\b"_s);
        bool removed = false;
        for (const QByteArray& line : list.split('\n')) {
            const QRegularExpressionMatch m = ours.match(QString::fromUtf8(line));
            if (m.hasMatch() && !QFileInfo::exists(u"/proc/"_s + m.captured(1))) {
                remove(m.captured(0));
                removed = true;
            }
        }
        if (removed) QDir().rmdir(u"/etc/netns"_s); // only when nothing else is in it
    }

    QString build()
    {
        QString error;
        for (const Side& s : m_sides)
            if (!ip({u"netns"_s, u"add"_s, s.netns}, &error)) return error;
        if (!ip({u"link"_s, u"add"_s, ann().link, u"type"_s, u"veth"_s, u"peer"_s, u"name"_s, bob().link},
                &error))
            return error;
        for (const Side& s : m_sides) {
            // ip netns exec puts these over /etc/resolv.conf and /etc/hosts.
            if (!test::WriteBytes(folder(s) + u"/resolv.conf"_s, "nameserver 192.0.2.53\n") ||
                !test::WriteBytes(
                    folder(s) + u"/hosts"_s,
                    (u"127.0.0.1 localhost\n"_s + s.peerIp + u' ' + s.peerName + u'\n').toUtf8()))
                return u"cannot write the files of "_s + folder(s);
            const QStringList in{u"-n"_s, s.netns};
            if (!ip({u"link"_s, u"set"_s, s.link, u"netns"_s, s.netns}, &error) ||
                !ip(in + QStringList{u"address"_s, u"add"_s, s.ip + u"/24"_s, u"dev"_s, s.link}, &error) ||
                !ip(in + QStringList{u"link"_s, u"set"_s, s.link, u"up"_s}, &error) ||
                !ip(in + QStringList{u"link"_s, u"set"_s, u"lo"_s, u"up"_s}, &error) ||
                !ip(in + QStringList{u"route"_s, u"add"_s, u"default"_s, u"via"_s, u"192.0.2.254"_s}, &error))
                return error;
        }
        return {};
    }

    std::array<Side, 2> m_sides;
    QString m_error;
    bool m_madeFolder = false;
};

// The user of the computer this process is now, as if the first start's dialog had run.
QString setUpUser(const QString& name)
{
    const QString serial = ReadSetting(Deliverable::Vigilo, settings::SerialNum);
    SaveProfile(test::UserProfile(name, StaleIp, serial), QString());
    WriteSetting(settings::FirstRun, u"0"_s);
    return serial;
}

QString noNetworkBox(const SimSession& s)
{
    for (const QString& text : NoNetworkTexts)
        if (s.promptLog().contains(text)) return text;
    return {};
}

} // namespace

class TestTwoComputers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void callFileAndMessage();
};

void TestTwoComputers::callFileAndMessage()
{
    const TwoNetworks net;
    if (!net.error().isEmpty()) QSKIP(qPrintable(u"no network namespaces here: "_s + net.error()));

    SimComputer annPc(SimComputer::OwnNetwork{net.ann().netns});
    SimComputer bobPc(SimComputer::OwnNetwork{net.bob().netns});
    const QString original = annPc.root() + u"/documents/plans.bin"_s;
    QByteArray bytes(FileSize, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), FileSize / 4);
    QVERIFY(test::WriteBytes(original, bytes));

    const QString annRules = u"open .* => "_s + original +
                             u"\n"
                             "msgbox leave a message => Yes\n"
                             "form Message Center => txtMsg_0="_s +
                             Subject +
                             u"; txtMsg_1=Call me back.; cmdMsg\n"
                             "msgbox is not answering your call => No\n"
                             "msgbox .* => OK\n"_s;
    const QString bobAnswers = u"msgbox Are you sure => Yes\nmsgbox .* => OK\n"_s;
    SimSession ann(annPc, annRules);
    SimSession bob(bobPc, u"form ^Ann entering room => optEnter_0=checked; cmdFile_0\n"_s + bobAnswers);
    QVERIFY2(ann.install(), qPrintable(ann.lastError()));
    QVERIFY2(bob.install(), qPrintable(bob.lastError()));
    annPc.activate();
    const QString annSerial = setUpUser(u"Ann"_s);
    // This process stays Bob's computer: its store is read at the end.
    bobPc.activate();
    const QString bobSerial = setUpUser(u"Bob"_s);
    // Bob's options: files are saved on their own, callers may leave messages.
    WriteSetting(settings::AcceptFiles, u"1"_s);
    WriteSetting(settings::Messages, u"1"_s);

    QVERIFY2(ann.startHost(), qPrintable(ann.lastError()));
    QVERIFY2(bob.startHost(), qPrintable(bob.lastError()));
    QVERIFY2(bob.startMonitor(), qPrintable(bob.lastError()));
    auto annSide = ann.startDriver();
    auto bobSide = bob.startDriver();
    QVERIFY(annSide && bobSide);

    // Ann calls Bob from his contact: its form aimed the control at the address and port it holds.
    QCOMPARE(annSide->value({u"open"_s, bobSerial, u"Bob"_s, BobIp}), u"Bob"_s);
    const QStringList callBob{u"call"_s, u"Connect"_s, QString(), u"0"_s};
    QElapsedTimer clock;
    clock.start();
    annSide->post(callBob);
    // Ends early when the call ended without him.
    const auto rang = [&] { return bob.soundLog(u"vigilo"_s).contains(u"trillo.wav"_s); };
    platform::WaitUntil([&] { return rang() || !annSide->answer(0).isEmpty(); }, WaitMs);
    QVERIFY2(rang(), qPrintable(u"Bob's monitor never rang; Ann's call: "_s + annSide->lastAnswer() +
                                u"\nAnn's prompts: "_s + ann.promptLog()));
    const qint64 ringMs = clock.elapsed();
    QVERIFY(platform::WaitUntil([&] { return bob.promptLog().contains(u"Ann entering room"_s); }, WaitMs));
    const qint64 admitted = clock.elapsed();
    QCOMPARE(annSide->answer(), u"ok\t0"_s);
    qInfo("call request to Bob's monitor ringing: %lld ms; to his admission of Ann: %lld ms", ringMs,
          admitted);
    QVERIFY2(ringMs < AnswerBoundMs, qPrintable(QString::number(ringMs)));

    QVERIFY(bobSide->value({u"active"_s}).startsWith(u"Ann"_s));
    QVERIFY(bobSide->waitAlone(false));
    QVERIFY(annSide->waitAlone(false));
    QVERIFY(annSide->ok({u"call"_s, u"DataSend"_s, QString::number(PubChat), u"Hi Bob"_s}));
    QVERIFY(bobSide->ok({u"call"_s, u"DataSend"_s, QString::number(PubChat), u"Hi Ann"_s}));
    QVERIFY(bobSide->transcriptShows(bobPc.root(), u"Ann\tHi Bob"_s));
    QVERIFY(annSide->transcriptShows(annPc.root(), u"Bob\tHi Ann"_s));
    // Bob's session start put his address into his profile (Ann's is checked on her card below).
    ProfileRecord bobProfile;
    LoadProfile(Deliverable::Quillon, bobProfile);
    QCOMPARE(bobProfile.IPAddress, BobIp);

    // The file, chosen in Ann's file dialog, lands in Bob's download folder.
    QVERIFY(annSide->ok({u"call"_s, u"DataSend"_s, QString::number(FilePrep), u"Bob"_s}));
    const QString received =
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) + u"/plans.bin"_s;
    QVERIFY2(platform::WaitUntil([&] { return QFileInfo(received).size() == FileSize; }, WaitMs),
             qPrintable(u"not in "_s + received + u"; Bob's prompts: "_s + bob.promptLog()));
    QVERIFY(
        platform::WaitUntil([&] { return bob.promptLog().contains(u"Saved received file as:"_s); }, WaitMs));
    QVERIFY(test::FileBytes(received) == bytes);

    // Ann leaves; Bob, alone on a form his monitor opened, has it closed, which keeps her address.
    const auto annLeaves = [&] {
        return annSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}) == u"0"_s &&
               platform::WaitUntil([&] { return bobSide->request({u"active"_s}).startsWith(u"err"_s); },
                                   WaitMs);
    };
    QVERIFY(annLeaves());
    QCOMPARE(bobSide->value({u"stored"_s, annSerial, u"LocalHost"_s}), AnnIp);

    // Ann types his computer's name into his card instead and calls again. Bob answers from his
    // address: Ann's control takes that for him.
    QVERIFY(annSide->ok({u"close"_s}));
    QCOMPARE(annSide->value({u"stored"_s, bobSerial, u"LocalHost"_s, BobName}), BobName);
    QCOMPARE(annSide->value({u"open"_s, bobSerial, u"Bob"_s, BobName}), u"Bob"_s);
    QCOMPARE(annSide->value({u"get"_s, u"RemoteHost"_s}), BobName);
    QCOMPARE(annSide->request(callBob), u"ok\t0"_s);
    QVERIFY(bobSide->value({u"active"_s}).startsWith(u"Ann"_s));
    QVERIFY(bobSide->ok({u"call"_s, u"DataSend"_s, QString::number(PubChat), u"Found me by name"_s}));
    QVERIFY(annSide->transcriptShows(annPc.root(), u"Bob\tFound me by name"_s));
    QVERIFY(annLeaves());

    // Bob becomes unavailable; Ann, calling his card by name again, leaves a message.
    QVERIFY(bobSide->ok({u"open"_s, annSerial, u"Ann"_s, AnnIp}));
    QVERIFY(bobSide->ok({u"call"_s, u"SetStatus"_s, u"Unavailable"_s}) && bobSide->ok({u"close"_s}));
    bob.setRules(u"msgbox is calling, but your status indicates you are unavailable => Yes\n"
                 "form ^Ann entering room => optEnter_1=checked; cmdFile_0\n"_s +
                 bobAnswers);
    const QString again = annSide->request(callBob);
    QVERIFY2(ann.promptLog().contains(u"Would you like to leave a message ?"_s),
             qPrintable(again + u"\nAnn's prompts: "_s + ann.promptLog() + u"\nBob's prompts: "_s +
                        bob.promptLog()));
    outlook::Item message;
    QVERIFY(platform::WaitUntil(
        [&] {
            const outlook::MAPIFolder messages = test::ProductFolder().Folders().Item(u"Messages"_s);
            const outlook::Items items = messages ? messages.Items() : outlook::Items();
            for (int i = 1; items && i <= items.Count(); ++i)
                if (items.Item(i).Subject() == Subject) message = items.Item(i);
            return bool(message);
        },
        WaitMs));
    QCOMPARE(message.SentOnBehalfOfName(), u"Ann"_s);

    QCOMPARE(noNetworkBox(ann), QString());
    QCOMPARE(noNetworkBox(bob), QString());

    annSide.reset();
    bobSide.reset();
    QVERIFY2(bob.closeMonitor(), qPrintable(bob.lastError()));
    QVERIFY2(bob.quitHost(), qPrintable(bob.lastError()));
    QVERIFY2(ann.quitHost(), qPrintable(ann.lastError()));
}

KV_TEST_MAIN(TestTwoComputers)
#include "tst_twocomputers.moc"
