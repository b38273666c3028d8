// hostshots: pictures of the mail host's windows for review. Fills the store
// of the current environment with a few sample items, opens the explorer, a
// Kivara contact on its "Kivara" page (with and without the participant
// list), a message, the Today page with its counter and each page of the chat
// options, and saves each window as a PNG into the folder given.
//   hostshots <output folder>
#include "ExplorerWindow.h"
#include "Forms.h"
#include "HostWindowSide.h"
#include "Outlook/Automation.h"
#include "Outlook/Store.h"
#include "Shoot.h"
#include "frmOptions.h"
#include "modReg.h"

#include <QApplication>
#include <QEventLoop>
#include <QTabWidget>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString out = PrepareShots(argc, argv);
    auto side = std::make_shared<kv::host::HostWindowSide>(DefaultStorePath());
    WindowSide::install(side);
    const NameSpace ns = side->application().GetNamespace(u"MAPI"_s);
    const MAPIFolder personal = ns.Folders().Item(QString::fromUtf16(PersonalFoldersName));
    MAPIFolder kivara = personal.Folders().Item(u"Kivara"_s);
    if (!kivara) kivara = personal.Folders().Add(u"Kivara"_s, olFolderContacts);
    MAPIFolder messages = kivara.Folders().Item(u"Messages"_s);
    if (!messages) messages = kivara.Folders().Add(u"Messages"_s, olFolderInbox);

    const struct {
        const char16_t* name;
        const char16_t* company;
        const char16_t* mail;
        const char16_t* status;
    } people[] = {{u"Ann Lindqvist", u"Harbour Freight", u"ann@example.com", u"Available"},
                  {u"Bruno Castell", u"Castell & Sons", u"bruno@example.com", u"Be Right Back"},
                  {u"Chiara Montefusco", u"Studio Vela", u"chiara@example.com", u"On the Phone"}};
    // The set-up may already have placed its welcome contact: the samples go in once, by name.
    const auto sample = [&kivara, &people] {
        for (const Item item : kivara.Items())
            if (item && item.FullName() == QString::fromUtf16(people[0].name)) return item;
        return Item();
    };
    if (!sample()) {
        for (const auto& p : people) {
            Item c = kivara.Items().Add(QString::fromUtf16(KivaraContactClass));
            c.setFullName(QString::fromUtf16(p.name));
            c.setFileAs(QString::fromUtf16(p.name));
            c.setCompanyName(QString::fromUtf16(p.company));
            c.setEmail1Address(QString::fromUtf16(p.mail));
            c.setBusinessAddressCity(u"Lisbon"_s);
            c.setBusinessAddressCountry(u"Portugal"_s);
            c.setBody(u"Met at the spring fair."_s);
            c.UserProperties()
                .Find(u"QuillonName"_s)
                .setValue(QString::fromUtf16(p.name).section(u' ', 0, 0));
            c.UserProperties().Find(u"UserStatus"_s).setValue(QString::fromUtf16(p.status));
            c.UserProperties()
                .Find(u"SerialNumber"_s)
                .setValue(u"KV-SAMPLE-"_s + QString::fromUtf16(p.name).left(1));
            c.Save();
        }
        for (int i = 0; i < 3; ++i) {
            Item m = messages.Items().Add(QString::fromUtf16(KivaraMessageClass));
            m.setSentOnBehalfOfName(QString::fromUtf16(people[i].name));
            m.setSubject(i == 0 ? u"Call me when you are back"_s : u"Quick question about the order"_s);
            m.setBody(
                u"Hello,\n\nI tried to reach you. Please call me back when you have a minute.\n\nRegards"_s);
            m.UserProperties().Find(u"MsgRead"_s).setValue(i == 2);
            m.Save();
        }
    }
    const Item first = sample();

    auto explorer = kivara.GetExplorer(0);
    explorer->Display();
    auto* ew = std::static_pointer_cast<kv::host::HostExplorer>(explorer)->window();
    ew->resize(960, 600);
    shoot(ew, out + u"/explorer.png"_s);
    explorer->setCurrentFolder(messages);
    shoot(ew, out + u"/explorer-messages.png"_s);
    // The Today page hosts the counter once the product has set it up.
    kv::WriteKeyValue(kv::RegRoot::CurrentUser, kv::qs(kv::TodayKey), kv::qs(kv::TodayUrlValue),
                      u"res://pellum.dll/Outlook.htm"_s);
    explorer->setCurrentFolder(personal);
    QEventLoop tick; // the counter refreshes every second
    QTimer::singleShot(1500, &tick, &QEventLoop::quit);
    tick.exec();
    shoot(ew, out + u"/today.png"_s);

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

    kv::control::frmOptions options(kv::control::frmOptions::Mode::Normal, u"127.0.0.1"_s);
    options.show();
    auto* tabs = options.findChild<QTabWidget*>(u"tbsOptions"_s);
    for (int i = 0; tabs && i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        shoot(&options, out + u"/options-%1.png"_s.arg(i + 1));
    }
    options.hide();

    side->closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    WindowSide::install(nullptr);
    return 0;
}
