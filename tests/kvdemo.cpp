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

QString readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString sha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return QString::fromLatin1(hash.result().toHex());
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

int run(const QString& annIp, const QString& bobIp)
{
    QString failed;
    // Each step bounded; the first that fails ends the demo with its name.
    // why: what went wrong, asked only after the step (arguments have no order of evaluation).
    const auto step = [&](const QString& name, bool done, const std::function<QString()>& why = {}) {
        if (done) {
            say(u"  ok   "_s + name);
        } else if (failed.isEmpty()) {
            failed = name;
            const QString reason = why ? why() : QString();
            say(u"  FAIL "_s + name + (reason.isEmpty() ? QString() : u": "_s + reason));
        }
        return done;
    };

    SimComputer annPc(annIp, u"KV-ANN"_s), bobPc(bobIp, u"KV-BOB"_s);
    annPc.activate();
    annPc.installForms();
    setUpUser(u"Ann"_s, annIp, u"KV-ANN"_s);
    // The file Ann sends.
    const QString original = annPc.root() + u"/documents/"_s + FileTitle;
    {
        QDir().mkpath(QFileInfo(original).path());
        QFile f(original);
        QByteArray bytes(FileBytes, '\0');
        quint32 x = 2463534242u;
        for (char& c : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x);
        }
        if (!step(u"prepare Ann's file"_s, f.open(QIODevice::WriteOnly) && f.write(bytes) == FileBytes))
            return 1;
    }
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
    if (!step(u"start Ann's mail host"_s, ann.startHost(), [&] { return ann.lastError(); })) return 1;
    if (!step(u"start Bob's mail host"_s, bob.startHost(), [&] { return bob.lastError(); })) return 1;
    if (!step(u"start Bob's tray monitor"_s, bob.startMonitor(), [&] { return bob.lastError(); })) return 1;
    auto annSide = ann.startDriver();
    auto bobSide = bob.startDriver();
    if (!step(u"start the drivers"_s, annSide && bobSide)) return 1;

    // 1. The call: from Bob's contact form, admitted by Bob's rule.
    if (!step(u"Ann opens Bob's contact"_s,
              annSide->value({u"open"_s, u"KV-BOB"_s, u"Bob"_s, bobIp}) == u"Bob"_s,
              [&] { return annSide->lastAnswer(); }))
        return 1;
    if (!step(u"Ann calls Bob (Connect)"_s,
              annSide->request({u"call"_s, u"Connect"_s, bobIp, u"8086"_s}) == u"ok\t0"_s,
              [&] { return annSide->lastAnswer(); }))
        return 1;
    if (!step(u"Bob's monitor rang and handed the call to Ann's contact form"_s,
              bob.soundLog(u"vigilo"_s).contains(u"trillo.wav"_s) &&
                  bobSide->value({u"active"_s}).startsWith(u"Ann"_s),
              [&] { return bobSide->lastAnswer(); }))
        return 1;
    if (!step(u"Bob admitted Ann"_s, bobSide->waitAlone(false) && annSide->waitAlone(false))) return 1;

    // 2. Lines both ways in the public room.
    const QString annDir = annPc.root();
    const QString bobDir = bobPc.root();
    annSide->ok({u"call"_s, u"DataSend"_s, QString::number(PubChat), u"Hi Bob, how are you?"_s});
    bobSide->ok({u"call"_s, u"DataSend"_s, QString::number(PubChat), u"Fine, thanks Ann"_s});
    if (!step(u"Bob reads Ann's line"_s, bobSide->transcriptShows(bobDir, u"Ann\tHi Bob, how are you?"_s)))
        return 1;
    if (!step(u"Ann reads Bob's line"_s, annSide->transcriptShows(annDir, u"Bob\tFine, thanks Ann"_s)))
        return 1;

    const QString annPubText = annSide->transcript(annDir);
    const QString bobPubText = bobSide->transcript(bobDir);

    // 3. A private room.
    // Ann opens the room with Bob's user record and asks him in.
    if (!step(u"Ann opens a private room with Bob"_s,
              annSide->ok({u"calllist"_s, u"OpenPrivateRoom"_s, u"PRICHAT"_s, u"Bob"_s, u"Available"_s,
                           u"bob@example.org"_s, bobIp, QString(), u"KV-BOB"_s, QString(), u"1"_s}) &&
                  annSide->ok({u"call"_s, u"DataSend"_s, QString::number(PriChat), u"OPENPRI"_s}),
              [&] { return annSide->lastAnswer(); }))
        return 1;
    if (!step(u"the private room opens on both sides"_s,
              annSide->transcriptShows(annDir, u"Now chatting in Bob's private room"_s) &&
                  bobSide->transcriptShows(bobDir, u"Now chatting in Ann's private room"_s),
              [&] {
                  return u"Ann's room in front shows:\n"_s + annSide->transcript(annDir) +
                         u"\nBob's room in front shows:\n"_s + bobSide->transcript(bobDir);
              }))
        return 1;
    annSide->ok({u"call"_s, u"DataSend"_s, QString::number(PriChat), u"Just between us: I have the plans"_s});
    bobSide->ok({u"call"_s, u"DataSend"_s, QString::number(PriChat), u"Send them over"_s});
    if (!step(u"private lines both ways"_s,
              bobSide->transcriptShows(bobDir, u"Ann\tJust between us: I have the plans"_s) &&
                  annSide->transcriptShows(annDir, u"Bob\tSend them over"_s),
              [&] {
                  return u"Ann's room shows:\n"_s + annSide->transcript(annDir) + u"\nBob's room shows:\n"_s +
                         bobSide->transcript(bobDir);
              }))
        return 1;

    // 4. The file.
    // The file, offered to Bob in the private room (what "Send File..." does for his row),
    // chosen in the file dialog; Bob's opener accepts it on its own.
    if (!step(u"Ann offers Bob a file"_s,
              annSide->ok({u"call"_s, u"DataSend"_s, QString::number(FilePrep), u"Bob"_s}),
              [&] { return annSide->lastAnswer(); }))
        return 1;
    const QString received = saveFolder + u'/' + FileTitle;
    const bool arrived = platform::WaitUntil(
        [&] { return QFileInfo(received).size() == FileBytes && openersOf(bobPc).isEmpty(); }, WaitMs);
    const QString sent = sha256(original), got = sha256(received);
    say(u"File "_s + FileTitle + u" ("_s + QString::number(FileBytes) + u" bytes)"_s);
    say(u"  SHA-256 sent     "_s + sent);
    say(u"  SHA-256 received "_s + got);
    if (!step(u"Bob's opener saved the file, and ended"_s, arrived, [&] {
            return QFileInfo(received).exists()
                       ? u"the opener still runs"_s
                       : u"nothing in "_s + saveFolder + u" ("_s +
                             QDir(saveFolder).entryList(QDir::Files | QDir::Hidden).join(u' ') +
                             u"), openers running: "_s + QString::number(openersOf(bobPc).size()) +
                             u"\nBob's shell: "_s + readAll(bob.shellLogPath()) + u"\nBob's prompts: "_s +
                             bob.promptLog() + u"\nAnn's prompts: "_s + ann.promptLog();
        }))
        return 1;
    if (!step(u"Bob's opener told him where it saved the file"_s,
              bob.promptLog().contains(u"Saved received file as:"_s)))
        return 1;
    if (!step(u"the checksums agree"_s, !sent.isEmpty() && sent == got)) return 1;
    const QString annEnd = annSide->transcript(annDir);
    const QString bobEnd = bobSide->transcript(bobDir);

    // 5. Ann leaves; Bob's form, opened by the monitor, closes.
    if (!step(u"Ann leaves"_s, annSide->value({u"call"_s, u"Disconnect"_s, u"false"_s}) == u"0"_s,
              [&] { return annSide->lastAnswer(); }))
        return 1;
    // With a private room open when Ann gave up the call, Bob's form stays open (the
    // room closed only with her leave): Bob, alone, closes it himself.
    if (!step(u"Bob is alone, and closes Ann's form"_s, bobSide->waitAlone(true) && bobSide->ok({u"close"_s}),
              [&] { return bobSide->lastAnswer(); }))
        return 1;

    // 6. Bob becomes unavailable through his chat control's availability menu.
    if (!step(u"Bob opens Ann's contact"_s, bobSide->ok({u"open"_s, u"KV-ANN"_s, u"Ann"_s, annIp}),
              [&] { return bobSide->lastAnswer(); }))
        return 1;
    if (!step(u"Bob sets \"Unavailable\""_s,
              bobSide->ok({u"call"_s, u"SetStatus"_s, u"Unavailable"_s}) && bobSide->ok({u"close"_s}),
              [&] { return bobSide->lastAnswer(); }))
        return 1;

    // 7. Ann calls again. Bob's monitor asks him about the call; he looks, but does not let her in.
    bob.setRules(u"msgbox is calling, but your status indicates you are unavailable => Yes\n"
                 "form ^Ann entering room => optEnter_1=checked; cmdFile_0\n"_s +
                 bobAnswers);
    const QString again = annSide->request({u"call"_s, u"Connect"_s, bobIp, u"8086"_s});
    if (!step(u"Bob's monitor knew he was unavailable"_s,
              bob.promptLog().contains(u"Ann is calling, but your status indicates you are unavailable."_s)))
        return 1;
    if (!step(u"Ann was offered to leave a message, and left one"_s,
              again.startsWith(u"ok\t"_s) &&
                  ann.promptLog().contains(u"Would you like to leave a message ?"_s),
              [&] {
                  return again + u"\nAnn's prompts: "_s + ann.promptLog() + u"\nBob's prompts: "_s +
                         bob.promptLog();
              }))
        return 1;

    // 8. The message, read through the object model of Bob's computer.
    outlook::Item message;
    const bool stored = platform::WaitUntil(
        [&] {
            const outlook::MAPIFolder messages = test::ProductFolder().Folders().Item(u"Messages"_s);
            const outlook::Items items = messages ? messages.Items() : outlook::Items();
            for (int i = 1; items && i <= items.Count(); ++i) {
                if (items.Item(i).SentOnBehalfOfName() == u"Ann"_s) message = items.Item(i);
            }
            return bool(message);
        },
        WaitMs);
    if (!step(u"the message is in Bob's Messages folder"_s, stored)) return 1;
    const outlook::Attachments attachments = message.Attachments();
    const QString attachment = attachments.Count() > 0 ? attachments.Item(1).DisplayName() : QString();
    say(u"Message in Bob's Messages folder"_s);
    say(u"  From:       "_s + message.SentOnBehalfOfName());
    say(u"  Subject:    "_s + message.Subject());
    say(u"  Attachment: "_s + attachment);
    say(u"  Body:"_s);
    for (const QString& line : message.Body().split(QRegularExpression(u"[\r\n]+"_s), Qt::SkipEmptyParts))
        say(u"    "_s + line);
    if (!step(u"sender, subject, body and Peerslip as Ann left them"_s, message.Subject() == Subject &&
                                                                            message.Body().startsWith(Body) &&
                                                                            attachment.startsWith(u"Ann"_s)))
        return 1;

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
    if (!step(u"Bob's monitor closes"_s, bob.closeMonitor(), [&] { return bob.lastError(); })) return 1;
    if (!step(u"both mail hosts quit"_s, bob.quitHost() && ann.quitHost())) return 1;
    return failed.isEmpty() ? 0 : 1;
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
    const int status = run(annIp, bobIp);
    say(status == 0 ? u"Demo complete."_s : u"Demo FAILED."_s);
    return status;
}
