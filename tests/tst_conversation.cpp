// Two simulated computers (127.53.0.2 and 127.53.0.3), each a host process with
// one chat control and a stand-in for its tray monitor: Ann calls Bob, Bob
// admits her by rule, both talk, Bob opens a private room, Ann changes her
// availability and Bob his name, Ann leaves; transcripts and lists are checked.
#include "Platform/Events.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;

namespace {

constexpr int WaitMs = 20000;

class Host {
public:
    Host(test::SimComputer& computer, const QString& rules)
    {
        const QString rulesFile = computer.root() + u"/prompts.rules"_s;
        QFile f(rulesFile);
        if (f.open(QIODevice::WriteOnly)) f.write(rules.toUtf8());
        f.close();
        QProcessEnvironment env = computer.environment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"KIVARA_PROMPTS"_s, rulesFile);
        env.insert(u"KIVARA_PROMPT_LOG"_s, computer.root() + u"/prompts.log"_s);
        env.insert(u"KIVARA_SHELL_LOG"_s, computer.root() + u"/shell.log"_s);
        env.insert(u"KIVARA_SHELL_DRYRUN"_s, u"1"_s);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
            m_buffer += m_process.readAllStandardOutput();
            qsizetype end;
            while ((end = m_buffer.indexOf('\n')) >= 0) {
                m_lines << QString::fromUtf8(m_buffer.left(end));
                m_buffer.remove(0, end + 1);
            }
        });
        m_process.start(qEnvironmentVariable("KIVARA_BIN_DIR", QCoreApplication::applicationDirPath()) +
                            u"/conversation_host"_s,
                        {});
    }
    ~Host()
    {
        if (m_process.state() != QProcess::NotRunning) {
            send(u"quit"_s);
            if (!m_process.waitForFinished(5000)) m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    void send(const QString& line) { m_process.write((line + u'\n').toUtf8()); }
    // Waits for a line starting with prefix after position `from`; returns it, or "" on time-out.
    QString waitFor(const QString& prefix, qsizetype* from = nullptr)
    {
        qsizetype start = from ? *from : m_seen;
        QString found;
        platform::WaitUntil(
            [&] {
                for (qsizetype i = start; i < m_lines.size(); ++i)
                    if (m_lines[i].startsWith(prefix)) {
                        found = m_lines[i];
                        m_seen = i + 1;
                        return true;
                    }
                return m_process.state() == QProcess::NotRunning;
            },
            WaitMs);
        return found;
    }
    // The room dump: "room", "row" and "line" entries.
    QStringList dump()
    {
        send(u"dump"_s);
        const qsizetype start = m_lines.size();
        if (waitFor(u"dump-end"_s).isEmpty()) return {};
        QStringList out;
        qsizetype i = start;
        while (i < m_lines.size() && m_lines[i] != u"dump-begin"_s)
            ++i;
        for (++i; i < m_lines.size() && m_lines[i] != u"dump-end"_s; ++i)
            out << m_lines[i];
        return out;
    }
    // Dumps until the condition holds on a dump (bounded).
    QStringList dumpUntil(const std::function<bool(const QStringList&)>& done)
    {
        QStringList d;
        platform::WaitUntil(
            [&] {
                d = dump();
                return done(d);
            },
            WaitMs);
        return d;
    }
    QStringList lines() const { return m_lines; }

private:
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
    qsizetype m_seen = 0;
};

auto has(const QString& entry)
{
    return [entry](const QStringList& d) { return d.contains(entry); };
}

} // namespace

class TestConversation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void conversation();
};

void TestConversation::conversation()
{
    const QString annIp = u"127.53.0.2"_s, bobIp = u"127.53.0.3"_s;
    test::SimComputer annPc(annIp, u"KV-ANN"_s), bobPc(bobIp, u"KV-BOB"_s);
    annPc.activate();
    annPc.installForms();
    QCOMPARE(SaveProfile(test::UserProfile(u"Ann"_s, annIp, u"KV-ANN"_s), QString()), 0);
    WriteSetting(settings::EnterMsg, u"Hello from Ann"_s);
    bobPc.activate();
    bobPc.installForms();
    QCOMPARE(SaveProfile(test::UserProfile(u"Bob"_s, bobIp, u"KV-BOB"_s), QString()), 0);

    Host ann(annPc, u"msgbox .* => OK\n"_s);
    Host bob(bobPc, u"form ^Ann entering room => optEnter_0=checked; cmdFile_0\nmsgbox .* => OK\n"_s);
    QCOMPARE(ann.waitFor(u"ready"_s), u"ready"_s);
    QCOMPARE(bob.waitFor(u"ready"_s), u"ready"_s);

    // The call: HELLO to Bob's monitor, ringing, admission, the room list.
    ann.send(u"connect "_s + bobIp);
    QCOMPARE(ann.waitFor(u"connect-result"_s), u"connect-result 0"_s);
    QVERIFY(ann.lines().contains(u"callstatus 5"_s)); // waited to enter while Bob's dialog was up
    QVERIFY(bob.lines().contains(u"monitor HELLO"_s));
    QVERIFY(bob.lines().contains(u"callstatus 10"_s));
    bob.dumpUntil(has(u"line 0 Ann<TAB>Hello from Ann"_s));

    // Lines both ways in the public room.
    ann.send(u"say Hi Bob, how are you?"_s);
    bob.send(u"say Fine, thanks Ann"_s);
    QStringList b = bob.dumpUntil(has(u"line 0 Ann<TAB>Hi Bob, how are you?"_s));
    QStringList a = ann.dumpUntil(has(u"line 0 Bob<TAB>Fine, thanks Ann"_s));
    QVERIFY2(b.contains(u"row 0 Ann|Available|"_s + annIp), qPrintable(b.join(u'\n')));
    QVERIFY2(a.contains(u"row 0 Bob|Available|"_s + bobIp), qPrintable(a.join(u'\n')));

    // Bob opens a private room with Ann; both hold it and talk in it.
    bob.send(u"private Ann"_s);
    a = ann.dumpUntil(has(u"room 1 Bob"_s));
    b = bob.dumpUntil(has(u"room 1 Ann"_s));
    ann.send(u"say just between us"_s);
    bob.dumpUntil(has(u"line 1 Ann<TAB>just between us"_s));
    bob.send(u"say agreed"_s);
    a = ann.dumpUntil(has(u"line 1 Bob<TAB>agreed"_s));
    QVERIFY(!a.contains(u"line 0 Bob<TAB>agreed"_s));

    // Availability and name.
    ann.send(u"status Be Right Back"_s);
    b = bob.dumpUntil(has(u"row 1 Ann|Be Right Back|"_s + annIp));
    QVERIFY2(b.contains(u"line 1 [Ann]<TAB>has changed status to 'Be Right Back'."_s),
             qPrintable(b.join(u'\n')));
    bob.send(u"name Robert"_s);
    a = ann.dumpUntil(has(u"room 1 Robert"_s));
    QVERIFY2(a.contains(u"line 1 [Bob]<TAB>changed Chat Name to 'Robert'."_s), qPrintable(a.join(u'\n')));
    QVERIFY(a.contains(u"row 0 Robert|Available|"_s + bobIp));

    // Ann leaves: Bob is alone again, his private room closed.
    ann.send(u"leave"_s);
    QCOMPARE(ann.waitFor(u"leave-result"_s), u"leave-result 0"_s);
    b = bob.dumpUntil(
        [](const QStringList& d) { return !d.isEmpty() && !d.join(u'\n').contains(u"row 0 Ann"_s); });
    a = ann.dump();
    QVERIFY2(!b.join(u'\n').contains(u"room 1"_s), qPrintable(b.join(u'\n')));
    // The rename was made in the private room, in front at the time; the own row elsewhere follows it.
    QCOMPARE(b.filter(QRegularExpression(u"^row "_s)), QStringList{u"row 0 Robert|Available|"_s + bobIp});
    QVERIFY(b.contains(u"line 0 Ann<TAB>Hi Bob, how are you?"_s));
    QVERIFY(b.contains(u"line 0 Robert<TAB>Fine, thanks Ann"_s) ||
            b.contains(u"line 0 Bob<TAB>Fine, thanks Ann"_s));
    QCOMPARE(a.filter(QRegularExpression(u"^row "_s)), QStringList{u"row 0 Ann|Be Right Back|"_s + annIp});
    QVERIFY(!a.join(u'\n').contains(u"room 1"_s));
    QVERIFY(a.contains(u"line 0 Bob<TAB>Fine, thanks Ann"_s));
    QVERIFY(bob.lines().contains(u"callstatus 4"_s));
}

KV_TEST_MAIN(TestConversation)
#include "tst_conversation.moc"
