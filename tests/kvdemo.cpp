// kvdemo: two simulated computers play the product end to end, every side a
// shipped program on a bus of its own. Ann calls Bob from his contact; Bob's
// monitor rings and his control admits her by rule; they talk, open a private
// room, and Ann sends a file that Bob's opener saves on its own. Ann leaves.
// Bob becomes unavailable; Ann calls again, is not let in, and leaves a
// message with her Peerslip in Bob's Messages folder. Prints both
// transcripts, the file's checksums and the stored message; exits 0 only when
// every step happened, and otherwise names the step that failed.
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/QtPrompt.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimSession.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <csignal>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using namespace kv;
using kv::test::HostDriver;
using kv::test::SimComputer;
using kv::test::SimSession;

namespace {

constexpr int WaitMs = 60000;
constexpr short PubChat = 7, PriChat = 8;
constexpr short FilePrep = 14;
constexpr qint64 FileBytes = 300000;
const QString FileTitle = u"travel-plans.dat"_s;
const QString Subject = u"Sorry I missed you"_s;
const QString Body = u"Call me back when you are free."_s;

void say(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

QString sha256(const QString& path)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(test::FileBytes(path), QCryptographicHash::Sha256).toHex());
}

// What the first run's options leave behind: the profile, and the store and folder the product uses.
void setUpUser(const QString& name, const QString& ip, const QString& serial)
{
    SaveProfile(test::UserProfile(name, ip, serial), QString());
    WriteSetting(settings::Service, u"Personal Folders"_s);
    WriteSetting(settings::Folder, u"Kivara"_s);
    WriteSetting(settings::FirstRun, u"0"_s);
}

// The opener programs a control started for this computer (found by their own
// home folder), so that none outlives the demo.
QList<qint64> openersOf(const SimComputer& pc)
{
    QList<qint64> found;
    const QString dorvan = SimSession::binDir() + u"/dorvan"_s;
    const QByteArray home = "HOME=" + QFile::encodeName(pc.home());
    for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number) continue;
        QFile cmd(u"/proc/"_s + entry + u"/cmdline"_s), env(u"/proc/"_s + entry + u"/environ"_s);
        if (!cmd.open(QIODevice::ReadOnly) || !env.open(QIODevice::ReadOnly)) continue;
        if (QFile::decodeName(cmd.readAll().split('\0').value(0)) != dorvan) continue;
        if (env.readAll().split('\0').contains(home)) found << pid;
    }
    return found;
}

// A step that did not happen ends the demo; its name and reason are printed already.
struct StepFailed {};

// Each step bounded; the first that fails ends the demo with its name.
// why: what went wrong, asked only after the step (arguments have no order of evaluation).
void step(const QString& name, bool done, const std::function<QString()>& why = {})
{
    if (done) {
        say(u"  ok   "_s + name);
        return;
    }
    const QString reason = why ? why() : QString();
    say(u"  FAIL "_s + name + (reason.isEmpty() ? QString() : u": "_s + reason));
    throw StepFailed{};
}

void play(const QString& annIp, const QString& bobIp)
{
    SimComputer annPc(annIp, u"KV-ANN"_s), bobPc(bobIp, u"KV-BOB"_s);
    annPc.activate();
    annPc.installForms();
    setUpUser(u"Ann"_s, annIp, u"KV-ANN"_s);
    // The file Ann sends.
    const QString original = annPc.root() + u"/documents/"_s + FileTitle;
    QByteArray bytes(FileBytes, Qt::Uninitialized);
    QRandomGenerator(2463534242u).fillRange(reinterpret_cast<quint32*>(bytes.data()), FileBytes / 4);
    step(u"prepare Ann's file"_s, test::WriteBytes(original, bytes));
    // The process is Bob's computer from here on: its store is the one read at the end.
    bobPc.activate();
    bobPc.installForms();
    setUpUser(u"Bob"_s, bobIp, u"KV-BOB"_s);
    const QString saveFolder = bobPc.root() + u"/received"_s;
    // Bob's options: files are accepted into a folder of his, and callers may leave messages.
    WriteSetting(settings::AcceptFiles, u"1"_s);
    WriteSetting(settings::Messages, u"1"_s);
    WriteSetting(settings::FileFolder, saveFolder);

    const QString annRules = u"open .* => "_s + original +
                             u"\n"
                             "msgbox leave a message => Yes\n"
                             "form Message Center => txtMsg_0="_s +
                             Subject + u"; txtMsg_1="_s + Body +
                             u"; chkMsg=checked; cmdMsg\n"
                             "msgbox is not answering your call => No\n"
                             "msgbox .* => OK\n"_s;
    const QString bobAnswers = u"msgbox Are you sure => Yes\nmsgbox .* => OK\n"_s;
    // An opener left over by a failed step ends with the demo too.
    struct EndOpeners {
        const SimComputer& pc;
        ~EndOpeners()
        {
            for (const qint64 pid : openersOf(pc))
                ::kill(pid_t(pid), SIGTERM);
        }
    } endOpeners{bobPc};
    SimSession ann(annPc, annRules);
    SimSession bob(bobPc, u"form ^Ann entering room => optEnter_0=checked; cmdFile_0\n"_s + bobAnswers);

    say(u"Ann at "_s + annIp + u", Bob at "_s + bobIp);
    step(u"start Ann's mail host"_s, ann.startHost(), [&] { return ann.lastError(); });
    step(u"start Bob's mail host"_s, bob.startHost(), [&] { return bob.lastError(); });
    step(u"start Bob's tray monitor"_s, bob.startMonitor(), [&] { return bob.lastError(); });
    auto annSide = ann.startDriver();
    auto bobSide = bob.startDriver();
    step(u"start the drivers"_s, annSide && bobSide);
    const auto annSaid = [&] { return annSide->lastAnswer(); };
    const auto bobSaid = [&] { return bobSide->lastAnswer(); };
    const QString annDir = annPc.root();
    const QString bobDir = bobPc.root();
    const auto rooms = [&] {
        return u"Ann's room in front shows:\n"_s + annSide->transcript(annDir) +
               u"\nBob's room in front shows:\n"_s + bobSide->transcript(bobDir);
    };
    const auto send = [](HostDriver& side, short kind, const QString& text) {
        return side.ok({u"call"_s, u"DataSend"_s, QString::number(kind), text});
    };

    // 1. The call: from Bob's contact form, admitted by Bob's rule.
    step(u"Ann opens Bob's contact"_s, annSide->value({u"open"_s, u"KV-BOB"_s, u"Bob"_s, bobIp}) == u"Bob"_s,
         annSaid);
    step(u"Ann calls Bob (Connect)"_s,
         annSide->request({u"call"_s, u"Connect"_s, bobIp, u"8086"_s}) == u"ok\t0"_s, annSaid);
    step(u"Bob's monitor rang and handed the call to Ann's contact form"_s,
         bob.soundLog(u"vigilo"_s).contains(u"trillo.wav"_s) &&
             bobSide->value({u"active"_s}).startsWith(u"Ann"_s),
         bobSaid);
    step(u"Bob admitted Ann"_s, bobSide->waitAlone(false) && annSide->waitAlone(false));

    // 2. Lines both ways in the public room.
    send(*annSide, PubChat, u"Hi Bob, how are you?"_s);
    send(*bobSide, PubChat, u"Fine, thanks Ann"_s);
    step(u"Bob reads Ann's line"_s, bobSide->transcriptShows(bobDir, u"Ann\tHi Bob, how are you?"_s));
    step(u"Ann reads Bob's line"_s, annSide->transcriptShows(annDir, u"Bob\tFine, thanks Ann"_s));
    const QString annPubText = annSide->transcript(annDir);
    const QString bobPubText = bobSide->transcript(bobDir);

    // 3. A private room: Ann opens it with Bob's user record and asks him in.
    step(u"Ann opens a private room with Bob"_s,
         annSide->ok({u"calllist"_s, u"OpenPrivateRoom"_s, u"PRICHAT"_s, u"Bob"_s, u"Available"_s,
                      u"bob@example.org"_s, bobIp, QString(), u"KV-BOB"_s, QString(), u"1"_s}) &&
             send(*annSide, PriChat, u"OPENPRI"_s),
         annSaid);
    step(u"the private room opens on both sides"_s,
         annSide->transcriptShows(annDir, u"Now chatting in Bob's private room"_s) &&
             bobSide->transcriptShows(bobDir, u"Now chatting in Ann's private room"_s),
         rooms);
    send(*annSide, PriChat, u"Just between us: I have the plans"_s);
    send(*bobSide, PriChat, u"Send them over"_s);
    step(u"private lines both ways"_s,
         bobSide->transcriptShows(bobDir, u"Ann\tJust between us: I have the plans"_s) &&
             annSide->transcriptShows(annDir, u"Bob\tSend them over"_s),
         rooms);

    // 4. The file, offered to Bob in the private room (what "Send File..." does for his row),
    // chosen in the file dialog; Bob's opener accepts it on its own.
    step(u"Ann offers Bob a file"_s, send(*annSide, FilePrep, u"Bob"_s), annSaid);
    const QString received = saveFolder + u'/' + FileTitle;
    const bool arrived = platform::WaitUntil(
        [&] { return QFileInfo(received).size() == FileBytes && openersOf(bobPc).isEmpty(); }, WaitMs);
    const QString sent = sha256(original), got = sha256(received);
    say(u"File "_s + FileTitle + u" ("_s + QString::number(FileBytes) + u" bytes)"_s);
    say(u"  SHA-256 sent     "_s + sent);
    say(u"  SHA-256 received "_s + got);
    step(u"Bob's opener saved the file, and ended"_s, arrived, [&] {
        return QFileInfo(received).exists()
                   ? u"the opener still runs"_s
                   : u"nothing in "_s + saveFolder + u" ("_s +
                         QDir(saveFolder).entryList(QDir::Files | QDir::Hidden).join(u' ') +
                         u"), openers running: "_s + QString::number(openersOf(bobPc).size()) +
                         u"\nBob's shell: "_s + test::FileText(bob.shellLogPath()) + u"\nBob's prompts: "_s +
                         bob.promptLog() + u"\nAnn's prompts: "_s + ann.promptLog();
    });
    step(u"Bob's opener told him where it saved the file"_s,
         bob.promptLog().contains(u"Saved received file as:"_s));
    step(u"the checksums agree"_s, !sent.isEmpty() && sent == got);
    const QString annEnd = annSide->transcript(annDir);
    const QString bobEnd = bobSide->transcript(bobDir);

    // 5. Ann leaves. With a private room open when she gave up the call, Bob's form
    // stays open (the room closed only with her leave): Bob, alone, closes it himself.
    step(u"Ann leaves"_s, annSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}) == u"0"_s, annSaid);
    step(u"Bob is alone, and closes Ann's form"_s, bobSide->waitAlone(true) && bobSide->ok({u"close"_s}),
         bobSaid);

    // 6. Bob becomes unavailable through his chat control's availability menu.
    step(u"Bob opens Ann's contact"_s, bobSide->ok({u"open"_s, u"KV-ANN"_s, u"Ann"_s, annIp}), bobSaid);
    step(u"Bob sets \"Unavailable\""_s,
         bobSide->ok({u"call"_s, u"SetStatus"_s, u"Unavailable"_s}) && bobSide->ok({u"close"_s}), bobSaid);

    // 7. Ann calls again. Bob's monitor asks him about the call; he looks, but does not let her in.
    bob.setRules(u"msgbox is calling, but your status indicates you are unavailable => Yes\n"
                 "form ^Ann entering room => optEnter_1=checked; cmdFile_0\n"_s +
                 bobAnswers);
    const QString again = annSide->request({u"call"_s, u"Connect"_s, bobIp, u"8086"_s});
    step(u"Bob's monitor knew he was unavailable"_s,
         bob.promptLog().contains(u"Ann is calling, but your status indicates you are unavailable."_s));
    step(u"Ann was offered to leave a message, and left one"_s,
         again.startsWith(u"ok\t"_s) && ann.promptLog().contains(u"Would you like to leave a message ?"_s),
         [&] {
             return again + u"\nAnn's prompts: "_s + ann.promptLog() + u"\nBob's prompts: "_s +
                    bob.promptLog();
         });

    // 8. The message, read through the object model of Bob's computer.
    outlook::Item message;
    const bool stored = platform::WaitUntil(
        [&] {
            const outlook::MAPIFolder messages = test::ProductFolder().Folders().Item(u"Messages"_s);
            const outlook::Items items = messages ? messages.Items() : outlook::Items();
            for (int i = 1; items && i <= items.Count(); ++i)
                if (items.Item(i).SentOnBehalfOfName() == u"Ann"_s) message = items.Item(i);
            return bool(message);
        },
        WaitMs);
    step(u"the message is in Bob's Messages folder"_s, stored);
    const outlook::Attachments attachments = message.Attachments();
    const QString attachment = attachments.Count() > 0 ? attachments.Item(1).DisplayName() : QString();
    say(u"Message in Bob's Messages folder"_s);
    say(u"  From:       "_s + message.SentOnBehalfOfName());
    say(u"  Subject:    "_s + message.Subject());
    say(u"  Attachment: "_s + attachment);
    say(u"  Body:"_s);
    for (const QString& line : message.Body().split(QRegularExpression(u"[\r\n]+"_s), Qt::SkipEmptyParts))
        say(u"    "_s + line);
    step(u"sender, subject, body and Peerslip as Ann left them"_s,
         message.Subject() == Subject && message.Body().startsWith(Body) && attachment.startsWith(u"Ann"_s));

    const auto printTranscript = [](const QString& title, const QString& text) {
        say(title);
        for (const QString& line : text.trimmed().split(u'\n'))
            say(u"  "_s + line.trimmed());
    };
    printTranscript(u"Ann's transcript (public room)"_s, annPubText);
    printTranscript(u"Ann's transcript (private room)"_s, annEnd);
    printTranscript(u"Bob's transcript (public room)"_s, bobPubText);
    printTranscript(u"Bob's transcript (private room)"_s, bobEnd);

    // Everything ends through the programs' own closing paths.
    annSide.reset();
    bobSide.reset();
    step(u"Bob's monitor closes"_s, bob.closeMonitor(), [&] { return bob.lastError(); });
    step(u"both mail hosts quit"_s, bob.quitHost() && ann.quitHost());
}

} // namespace

int main(int argc, char* argv[])
{
    // Before anything can touch a network: this process is a simulated computer.
    SimComputer start;
    start.activate();
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    QStringList args = QCoreApplication::arguments().mid(1);
    QString annIp = u"127.0.0.2"_s, bobIp = u"127.0.0.3"_s;
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--ann"_s) annIp = args[i + 1];
        if (args[i] == u"--bob"_s) bobIp = args[i + 1];
    }
    for (const QString& ip : {annIp, bobIp}) {
        if (!QHostAddress(ip).isInSubnet(QHostAddress::LocalHost, 8) || ip == u"127.0.0.1"_s) {
            say(u"kvdemo: addresses must lie in 127.0.0.0/8 (not 127.0.0.1): "_s + ip);
            return 2;
        }
    }
    try {
        play(annIp, bobIp);
    } catch (const StepFailed&) {
        say(u"Demo FAILED."_s);
        return 1;
    }
    say(u"Demo complete."_s);
    return 0;
}
