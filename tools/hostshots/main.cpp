// hostshots: pictures of the mail host's windows for review. Fills the store
// of the current environment with a few sample items, opens the explorer, a
// Kivara contact on its "Kivara" page (with and without the participant
// list, then in a conversation, and the history search over it), a message, the Today page with its counter,
// each page of the chat options and the opener's file receiver, and saves
// each window as a PNG into the folder given.
//   hostshots <output folder>
// The other parties of the conversation and the file's sender are the
// protocol-level peers of the test suites, on the local address's neighbours;
// they run only when that address is a loopback one.
#include "Control/Session/History.h"
#include "Control/Session/Rooms.h"
#include "Control/Transcript.h"
#include "Control/frmHistory.h"
#include "Control/frmOptions.h"
#include "MailHost/ExplorerWindow.h"
#include "MailHost/Forms.h"
#include "MailHost/HostWindowSide.h"
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/Store.h"
#include "Platform/QtPrompt.h"
#include "Platform/Socket.h"
#include "Shared/modReg.h"
#include "Vigilo/Opener/frmFile.h"
#include "testing/CallPeer.h"
#include "testing/FileTransferSupport.h"
#include "tools/hostshots/Shoot.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

using namespace Qt::StringLiterals;
using namespace kv::outlook;
using kv::platform::WaitUntil;

namespace {

constexpr int WaitMs = 5000;

// The address of a party next to this computer's own loopback address; empty off loopback.
QString Neighbour(int host)
{
    const QString own = kv::platform::Socket::LocalIP();
    return own.startsWith(u"127."_s) ? own.section(u'.', 0, 2) + u'.' + QString::number(host) : QString();
}

kv::UserRecord Party(const QString& name, int host, int icon)
{
    return {name,
            u"Available"_s,
            name.toLower() + u"@example.com"_s,
            Neighbour(host),
            u"Met at the spring fair."_s,
            u"KV-SAMPLE-"_s + name.left(1),
            QString(),
            QString::number(icon)};
}

bool Shows(QObject* chat, const QString& line)
{
    for (const QTextEdit* t : chat->findChildren<QTextEdit*>())
        if (t->objectName() != u"txtSend"_s && t->toPlainText().contains(line)) return true;
    return false;
}

// The control on Ann's form calls her; she lets the user into her public room,
// where Bruno and Chiara are. A few lines go round, typed by the user in the
// entry box, then Bruno opens a private room and writes there while the public
// room stays in front. False when a step did not happen in time.
bool StageConversation(QObject* chat)
{
    if (Neighbour(3).isEmpty()) return false;
    kv::test::CallPeer ann(Neighbour(3), WaitMs), bruno(Neighbour(4), WaitMs), chiara(Neighbour(5), WaitMs);
    if (!ann.ok || !bruno.ok || !chiara.ok) return false;
    const kv::UserRecord rec[] = {Party(u"Ann"_s, 3, 2), Party(u"Bruno"_s, 4, 3), Party(u"Chiara"_s, 5, 4)};
    const QString own = kv::platform::Socket::LocalIP();
    // Ann lets the caller in while the call rings: her room list, the caller last.
    kv::UserRecord caller = Party(chat->property("KivaraName").toString(), 2, 1);
    caller.ipAddress = own;
    QTimer::singleShot(0, [&] { ann.sendTo(own, kv::BuildRoomList({rec[0], rec[1], rec[2], caller})); });
    if (CallByName(chat, u"Connect"_s, VbMethod, {ann.ip(), kv::ChatDatagramPort}).toInt() != 0) return false;

    auto* entry = chat->findChild<QTextEdit*>(u"txtSend"_s);
    const struct {
        kv::test::CallPeer* peer; // nullptr: the user types the line
        int who;
        QColor colour;
        QStringView line;
    } lines[] = {
        {&ann, 0, QColor(0, 0, 160), u"Hi Dana, glad you could join us."},
        {&bruno, 1, QColor(0, 110, 0), u"Morning Dana! We were just going over the stand for the boat show."},
        {nullptr, 0, {}, u"Hello everyone. Are the dates confirmed?"},
        {&chiara, 2, QColor(150, 0, 120), u"Yes, 14 to 16 May in Lisbon. I'll send you the floor plan."},
        {&ann, 0, QColor(0, 0, 160), u"Bruno, can you book the hall by Friday?"},
        {&bruno, 1, QColor(0, 110, 0), u"Will do, I'll confirm here once it's booked."},
        {nullptr, 0, {}, u"Great, I'll draft the invitations then."},
    };
    for (const auto& l : lines) {
        const QString text = l.line.toString();
        if (l.peer) {
            l.peer->sendTo(own, kv::BuildPubChat(rec[l.who].chatName,
                                                 qint32(kv::control::ColorToSetting(l.colour)), text));
        } else if (entry) {
            entry->setPlainText(text);
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(entry, &enter);
        }
        if (!WaitUntil([&] { return Shows(chat, text); }, WaitMs)) return false;
    }

    // Bruno asks for a private room; it opens in front, the user goes back to the public room.
    const qint32 green = qint32(kv::control::ColorToSetting(QColor(0, 110, 0)));
    // A room's button, by its caption (the control comes from its plugin: no casting to its class).
    const auto room = [chat](const QString& tag) -> QPushButton* {
        for (QPushButton* b : chat->findChildren<QPushButton*>())
            if (b->text() == kv::control::RoomCaption(tag)) return b;
        return nullptr;
    };
    bruno.sendTo(own, kv::BuildPriChat(rec[1], green, QString(kv::word::OpenPrivate)));
    if (!WaitUntil([&] { return room(u"Bruno"_s) && room(kv::word::PublicRoom); }, WaitMs)) return false;
    room(kv::word::PublicRoom)->click();
    const QString aside = u"Dana, have you got a minute about the invoice?"_s;
    bruno.sendTo(own, kv::BuildPriChat(rec[1], green, aside));
    // A transcript draws once its lines stop coming (its viewport held meanwhile); the picture waits.
    const auto drawn = [chat] {
        const QList<QTextEdit*> views = chat->findChildren<QTextEdit*>();
        return std::all_of(views.begin(), views.end(),
                           [](QTextEdit* t) { return t->viewport()->updatesEnabled(); });
    };
    return WaitUntil([&] { return Shows(chat, aside); }, WaitMs) && WaitUntil(drawn, WaitMs);
}

// Chiara sends the floor plan: the opener's receiving window, the offer saved
// to disk, shown with its offer and again part way through.
void ShootFileReceiver(const QString& out)
{
    if (Neighbour(5).isEmpty()) return;
    kv::test::FileSender sender(Neighbour(5));
    if (!sender.ready()) return;
    const QByteArray data = kv::test::Pattern(2457600);
    kv::dorvan::frmFile w;
    kv::platform::Prompt::install(std::make_unique<kv::platform::ScriptedPrompt>(
        u"save ^Save file as\\.\\.\\.$ => "_s + QDir(w.saveFolder()).filePath(u"Stand floor plan.pdf"_s)));
    w.setInfo({u"FILEPREP"_s, u"Chiara"_s, u"Stand floor plan.pdf"_s, QString::number(data.size()),
               sender.ip(), QString::number(kv::FileTransferPort), u"Dana"_s});
    shoot(&w, out + u"/file-offer.png"_s);
    if (auto* ok = w.findChild<QPushButton*>(u"cmdFile_0"_s)) ok->click();
    const qsizetype part = data.size() * 45 / 100;
    if (sender.waitConnection() && sender.send(data.left(part)) &&
        WaitUntil([&] { return w.receivedCount() == part; }, WaitMs))
        shoot(&w, out + u"/file-receive.png"_s);
    sender.send(data.mid(part));
    WaitUntil([&] { return w.isUnloaded(); }, WaitMs);
    kv::platform::Prompt::install(nullptr);
}

// The sample contacts and left messages, placed once; the first sample contact.
Item PlaceSamples(const MAPIFolder& kivara, const MAPIFolder& messages)
{
    const struct {
        QStringView name;
        QStringView company;
        QStringView mail;
        QStringView status;
    } people[] = {{u"Ann Lindqvist", u"Harbour Freight", u"ann@example.com", u"Available"},
                  {u"Bruno Castell", u"Castell & Sons", u"bruno@example.com", u"Be Right Back"},
                  {u"Chiara Montefusco", u"Studio Vela", u"chiara@example.com", u"On the Phone"}};
    // The set-up may already have placed its welcome contact: the samples go in once, by name.
    const auto sample = [&kivara, &people] {
        for (const Item item : kivara.Items())
            if (item && item.FullName() == people[0].name.toString()) return item;
        return Item();
    };
    if (!sample()) {
        for (const auto& p : people) {
            Item c = kivara.Items().Add(KivaraContactClass.toString());
            c.setFullName(p.name.toString());
            c.setFileAs(p.name.toString());
            c.setCompanyName(p.company.toString());
            c.setEmail1Address(p.mail.toString());
            c.setBusinessAddressCity(u"Lisbon"_s);
            c.setBusinessAddressCountry(u"Portugal"_s);
            c.setBody(u"Met at the spring fair."_s);
            c.UserProperties().Find(u"QuillonName"_s).setValue(p.name.toString().section(u' ', 0, 0));
            c.UserProperties().Find(u"UserStatus"_s).setValue(p.status.toString());
            c.UserProperties().Find(u"SerialNumber"_s).setValue(u"KV-SAMPLE-"_s + p.name.toString().left(1));
            c.Save();
        }
        for (int i = 0; i < 3; ++i) {
            Item m = messages.Items().Add(KivaraMessageClass.toString());
            m.setSentOnBehalfOfName(people[i].name.toString());
            m.setSubject(i == 0 ? u"Call me when you are back"_s : u"Quick question about the order"_s);
            m.setBody(
                u"Hello,\n\nI tried to reach you. Please call me back when you have a minute.\n\nRegards"_s);
            m.UserProperties().Find(u"MsgRead"_s).setValue(i == 2);
            m.Save();
        }
    }
    return sample();
}

// The history search over the conversation just held: a word found, its line opened among its neighbours.
void ShootHistorySearch(const QString& out)
{
    kv::control::frmHistory search(kv::control::History::user());
    search.resize(760, 520);
    search.show();
    auto* words = search.findChild<QLineEdit*>(u"txtSearch"_s);
    auto* found = search.findChild<QTreeWidget*>(u"lstResults"_s);
    // The control writes its lines a moment after showing them.
    if (!words || !found ||
        !WaitUntil(
            [&] {
                words->clear();
                words->setText(u"Lisbon"_s);
                return found->topLevelItemCount() > 0;
            },
            WaitMs))
        return;
    found->setCurrentItem(found->topLevelItem(0));
    Q_EMIT found->itemActivated(found->topLevelItem(0), 0);
    shoot(&search, out + u"/history-search.png"_s);
}

// The contact form's Kivara page: idle, without the list, the General page, a conversation.
void ShootContactForm(const Item& first, const QString& out)
{
    auto contact = first.GetInspector();
    contact->Display();
    contact->SetCurrentFormPage(u"Kivara"_s);
    auto* cw = std::static_pointer_cast<kv::host::HostInspector>(contact)->window();
    cw->resize(760, 560);
    shoot(cw, out + u"/contact-kivara.png"_s);
    if (const auto page = contact->ModifiedFormPages(u"Kivara"_s)) {
        QObject* chat = page->Controls(u"Kivara1"_s);
        kv::WriteSetting(kv::settings::ShowUsers, u"0"_s);
        CallByName(chat, u"RefreshSettings"_s, VbMethod);
        shoot(cw, out + u"/contact-kivara-nolist.png"_s);
        kv::WriteSetting(kv::settings::ShowUsers, u"1"_s);
        CallByName(chat, u"RefreshSettings"_s, VbMethod);
    }
    contact->SetCurrentFormPage(u"General"_s);
    shoot(cw, out + u"/contact-general.png"_s);
    contact->SetCurrentFormPage(u"Kivara"_s);
    if (const auto page = contact->ModifiedFormPages(u"Kivara"_s)) {
        QObject* chat = page->Controls(u"Kivara1"_s);
        cw->resize(760, 480); // a few lines of talk need less height than the idle page shows
        if (StageConversation(chat)) {
            shoot(cw, out + u"/conversation.png"_s);
            ShootHistorySearch(out);
        } else
            std::printf("FAILED %s\n", qPrintable(out + u"/conversation.png"_s));
        CallByName(chat, u"Disconnect"_s, VbMethod, {false});
    }
}

void ShootOptions(const QString& out)
{
    kv::control::frmOptions options(kv::control::frmOptions::Mode::Normal, u"127.0.0.1"_s);
    options.show();
    auto* tabs = options.findChild<QTabWidget*>(u"tbsOptions"_s);
    for (int i = 0; tabs && i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        shoot(&options, out + u"/options-%1.png"_s.arg(i + 1));
    }
    options.hide();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    const QString out = PrepareShots(argc, argv);
    auto side = std::make_shared<kv::host::HostWindowSide>(DefaultStorePath());
    WindowSide::install(side);
    const NameSpace ns = side->application().GetNamespace(u"MAPI"_s);
    const MAPIFolder personal = ns.Folders().Item(PersonalFoldersName.toString());
    MAPIFolder kivara = personal.Folders().Item(u"Kivara"_s);
    if (!kivara) kivara = personal.Folders().Add(u"Kivara"_s, olFolderContacts);
    MAPIFolder messages = kivara.Folders().Item(u"Messages"_s);
    if (!messages) messages = kivara.Folders().Add(u"Messages"_s, olFolderInbox);

    const Item first = PlaceSamples(kivara, messages);

    auto explorer = kivara.GetExplorer(0);
    explorer->Display();
    auto* ew = std::static_pointer_cast<kv::host::HostExplorer>(explorer)->window();
    ew->resize(960, 600);
    shoot(ew, out + u"/explorer.png"_s);
    explorer->setCurrentFolder(messages);
    shoot(ew, out + u"/explorer-messages.png"_s);
    // The Today page hosts the counter once the product has set it up.
    kv::WriteKeyValue(kv::RegRoot::CurrentUser, kv::TodayKey.toString(), kv::TodayUrlValue.toString(),
                      u"res://pellum.dll/Outlook.htm"_s);
    explorer->setCurrentFolder(personal);
    QEventLoop tick; // the counter refreshes every second
    QTimer::singleShot(1500, &tick, &QEventLoop::quit);
    tick.exec();
    shoot(ew, out + u"/today.png"_s);

    ShootContactForm(first, out);

    const Item msg = messages.Items().Item(1);
    auto message = msg.GetInspector();
    message->Display();
    shoot(std::static_pointer_cast<kv::host::HostInspector>(message)->window(), out + u"/message.png"_s);

    const Item mail = side->application().CreateItem(olMailItem);
    mail.setSubject(u"My Peerslip"_s);
    mail.Recipients().Add(u"bruno@example.com"_s);
    auto mailInspector = mail.GetInspector();
    mailInspector->Display();
    shoot(std::static_pointer_cast<kv::host::HostInspector>(mailInspector)->window(), out + u"/mail.png"_s);

    ShootOptions(out);

    ShootFileReceiver(out);

    side->closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    WindowSide::install(nullptr);
    return 0;
}
