// The mail host's windows in one process: the explorer lists and opens items,
// the Today page hosts the live counter only when it is set up, the contact form
// asks before dropping changes, a Kivara contact's form aims its chat control
// (the test control library) at the contact's computer, and the mail window
// hands a mail to the desktop's mail client or keeps it in "Outbox".
#include "MailHost/ExplorerWindow.h"
#include "MailHost/Forms.h"
#include "MailHost/HostWindowSide.h"
#include "Platform/Events.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Prompt.h"
#include "Platform/ScriptedPrompt.h"
#include "Platform/Shell.h"
#include "Shared/modReg.h"
#include "testing/FormCheck.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>

using namespace Qt::StringLiterals;
using namespace kv::outlook;
using kv::host::HostExplorer;
using kv::host::HostInspector;
using kv::host::HostWindowSide;

class TestHostWindows : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<HostWindowSide> m_side;
    kv::platform::ScriptedPrompt* m_prompt = nullptr;

    NameSpace ns() const { return m_side->application().GetNamespace(u"MAPI"_s); }
    MAPIFolder personal() const { return ns().Folders().Item(PersonalFoldersName.toString()); }
    MAPIFolder folder(const QString& name, int type) const
    {
        MAPIFolder f = personal().Folders().Item(name);
        return f ? f : personal().Folders().Add(name, type);
    }
    void usePrompts(const QString& rules)
    {
        auto p = std::make_unique<kv::platform::ScriptedPrompt>(rules);
        m_prompt = p.get();
        kv::platform::Prompt::install(std::move(p));
    }

private Q_SLOTS:
    void init()
    {
        m_side = std::make_shared<HostWindowSide>(DefaultStorePath());
        WindowSide::install(m_side);
        usePrompts({});
    }
    void cleanup()
    {
        m_side->closeAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        WindowSide::install(nullptr);
        m_side.reset();
        kv::platform::Prompt::install(nullptr);
        kv::platform::Shell::install(nullptr);
    }

    void explorer_listsOpensAndHostsTheCounter()
    {
        const MAPIFolder people = folder(u"People"_s, olFolderContacts);
        Item c = people.Items().Add(u"IPM.Contact"_s);
        c.setFullName(u"Ann Lindqvist"_s);
        c.setCompanyName(u"Harbour Freight"_s);
        QVERIFY(c.Save());
        const auto explorer = people.GetExplorer(0);
        QVERIFY(explorer->Display());
        QCOMPARE(m_side->ActiveExplorer(), explorer);
        auto* window = std::static_pointer_cast<HostExplorer>(explorer)->window();
        QCOMPARE(window->windowTitle(), u"People - Microsoft Outlook"_s);
        QCOMPARE(kv::test::FormFaults(window), QString());
        auto* list = window->findChild<QTreeWidget*>(u"lvwItems"_s);
        QVERIFY(list);
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), u"Ann Lindqvist"_s);
        QCOMPARE(list->topLevelItem(0)->text(1), u"Harbour Freight"_s);

        // Another program adds an item: the window picks it up when it next looks.
        Item d = people.Items().Add(u"IPM.Contact"_s);
        d.setFullName(u"Bruno Castell"_s);
        QVERIFY(d.Save());
        window->refreshItems();
        QCOMPARE(list->topLevelItemCount(), 2);

        // Opening a row shows its form.
        list->clearSelection();
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == u"Ann Lindqvist"_s)
                list->topLevelItem(i)->setSelected(true);
        Q_EMIT list->itemActivated(list->selectedItems().first(), 0);
        const auto insp = m_side->ActiveInspector();
        QVERIFY(insp);
        QVERIFY(insp->CurrentItem().isSameStored(c));
        QVERIFY(insp->IsDisplayed());

        // Switching folders; the folder tree follows.
        QVERIFY(explorer->setCurrentFolder(personal().Folders().Item(u"Inbox"_s)));
        QCOMPARE(window->findChild<QTreeWidget*>(u"tvwFolders"_s)->currentItem()->text(0), u"Inbox"_s);
        QCOMPARE(list->headerItem()->text(1), u"Subject"_s);

        const QString key = kv::TodayKey.toString();
        const QString name = kv::TodayUrlValue.toString();
        kv::DeleteKeyValue(kv::RegRoot::CurrentUser, key, name);
        {
            const auto todayExplorer = personal().GetExplorer(0);
            QVERIFY(todayExplorer->Display());
            auto* shown = std::static_pointer_cast<HostExplorer>(todayExplorer)->window();
            auto* today = shown->findChild<kv::host::TodayPage*>();
            QVERIFY(today && today->isVisible());
            QVERIFY(!today->counter());
            QVERIFY(!today->findChild<QLabel*>(u"lblMissingControl"_s));
            QVERIFY(todayExplorer->Close());
        }
        // Set up: the counter comes from its library in the system folder and counts as messages arrive.
        const MAPIFolder product = folder(u"Kivara"_s, olFolderContacts);
        MAPIFolder messages = product.Folders().Item(u"Messages"_s);
        if (!messages) messages = product.Folders().Add(u"Messages"_s, olFolderInbox);
        kv::WriteKeyValue(kv::RegRoot::CurrentUser, key, name, u"res://pellum.dll/Outlook.htm"_s);
        const auto todayExplorer = personal().GetExplorer(0);
        QVERIFY(todayExplorer->Display());
        auto* today = std::static_pointer_cast<HostExplorer>(todayExplorer)
                          ->window()
                          ->findChild<kv::host::TodayPage*>();
        QVERIFY2(today->counter(), "libtallyoplugin.so next to the test provides \"Counter\"");
        QVERIFY(!today->findChild<QLabel*>(u"lblMissingControl"_s));
        const auto shows = [&](const QString& text) {
            return kv::platform::WaitUntil(
                [&] {
                    const auto labels = today->counter()->findChildren<QLabel*>();
                    return std::any_of(labels.begin(), labels.end(),
                                       [&](QLabel* l) { return l->text() == text; });
                },
                5000);
        };
        QVERIFY(shows(u"No new messages"_s));
        for (const bool read : {false, true, false}) {
            Item m = messages.Items().Add(u"IPM.Note.Kivara Message"_s);
            m.UserProperties().Find(u"MsgRead"_s).setValue(read);
            QVERIFY(m.Save());
        }
        QVERIFY(shows(u"2 unread"_s));
        kv::DeleteKeyValue(kv::RegRoot::CurrentUser, key, name);
    }

    void contactForms_askBeforeDroppingAndAimTheControl()
    {
        usePrompts(u"msgbox ^Do you want to save changes\\?$ => Yes"_s);
        const MAPIFolder people = folder(u"People"_s, olFolderContacts);
        const Item c = people.Items().Add(u"IPM.Contact"_s);
        const auto insp = c.GetInspector();
        QVERIFY(insp->Display());
        auto* window = std::static_pointer_cast<HostInspector>(insp)->window();
        auto* fullName = window->findChild<QLineEdit*>(u"txtFullName"_s);
        QVERIFY(fullName);
        QVERIFY(!window->findChild<QLineEdit*>(u"txtComputer"_s)); // a standard contact is not called
        QCOMPARE(kv::test::FormFaults(window), QString());
        QTest::keyClicks(fullName, u"Carla Mendes"_s);
        QCOMPARE(c.FullName(), u"Carla Mendes"_s); // the form edits the item
        window->close();
        QCOMPARE(m_prompt->log().size(), 1);
        QCOMPARE(m_prompt->log().first().text, u"Do you want to save changes?"_s);
        QVERIFY(!insp->IsDisplayed());
        QVERIFY(people.Items().Find(u"[FullName] = 'Carla Mendes'"_s));

        // "Cancel" keeps the form open and the item unsaved.
        usePrompts(u"msgbox ^Do you want to save changes\\?$ => Cancel"_s);
        const Item d = people.Items().Add(u"IPM.Contact"_s);
        d.setFullName(u"Dario Unsaved"_s);
        const auto insp2 = d.GetInspector();
        QVERIFY(insp2->Display());
        std::static_pointer_cast<HostInspector>(insp2)->window()->close();
        QVERIFY(insp2->IsDisplayed());
        QVERIFY(!people.Items().Find(u"[FullName] = 'Dario Unsaved'"_s));

        m_side->setControlFolder(QFileInfo(QStringLiteral(KV_FAKE_CONTROL_PLUGIN)).path());
        const MAPIFolder product = folder(u"Kivara"_s, olFolderContacts);
        const auto open = [](const Item& item) {
            const auto insp = std::static_pointer_cast<HostInspector>(item.GetInspector());
            insp->Display(false);
            const auto page = insp->ModifiedFormPages(u"Kivara"_s);
            return std::pair{insp->window(), page ? page->Controls(u"Kivara1"_s) : nullptr};
        };
        const auto target = [](QObject* control) {
            return control->property("RemoteHost").toString() + u':' + control->property("RemotePort").toString();
        };

        // Typed by hand: the port starts at the chat port, the control follows each edit,
        // a port out of range stays in the field but reaches neither the control nor the item.
        Item typed = product.Items().Add(KivaraContactClass.toString());
        typed.setFullName(u"Chiara Rossi"_s);
        auto [form, control] = open(typed);
        auto* computer = form->findChild<QLineEdit*>(u"txtComputer"_s);
        auto* port = form->findChild<QLineEdit*>(u"txtPort"_s);
        QVERIFY(computer && port && control);
        QCOMPARE(port->text(), u"8086"_s);
        QCOMPARE(target(control), u":8086"_s);
        QTest::keyClicks(computer, u"chiara-pc"_s);
        port->selectAll();
        QTest::keyClicks(port, u"8087"_s);
        QCOMPARE(target(control), u"chiara-pc:8087"_s);
        QTest::keyClicks(port, u"0"_s);
        QCOMPARE(port->text(), u"80870"_s);
        QCOMPARE(target(control), u"chiara-pc:8087"_s);
        QVERIFY(!typed.Saved());
        form->findChild<QAction*>(u"cmdSaveClose"_s)->trigger();

        // Saved with the item: reopened, the form hands the stored computer and port over as it opens.
        const Item stored = ns().GetItemFromID(typed.EntryID());
        QCOMPARE(stored.UserProperties().Find(u"LocalHost"_s).Value().toString(), u"chiara-pc"_s);
        QCOMPARE(stored.UserProperties().Find(u"LocalPort"_s).Value().toInt(), 8087);
        std::tie(form, control) = open(stored);
        QCOMPARE(form->findChild<QLineEdit*>(u"txtPort"_s)->text(), u"8087"_s);
        QCOMPARE(target(control), u"chiara-pc:8087"_s);
    }

    void mailWindow_sendsThroughTheMailClientOrKeepsItInOutbox()
    {
        QTemporaryDir dir;
        const QString att = dir.filePath(u"Gil.kvp"_s);
        QVERIFY(kv::test::WriteBytes(att, "peerslip"));
        const QByteArray path = qgetenv("PATH");
        // A new mail with the Peerslip attached, sent from its window with only binFolder on PATH.
        const auto send = [&](const QString& subject, const QString& to, const QString& binFolder) {
            Item mail = m_side->application().CreateItem(olMailItem);
            mail.setSubject(subject);
            mail.setBody(u"See attached."_s);
            const auto insp = mail.GetInspector();
            if (!mail.Attachments().Add(att) || !insp->Display()) return std::pair{insp, false};
            auto* window =
                qobject_cast<kv::host::MailWindow*>(std::static_pointer_cast<HostInspector>(insp)->window());
            if (!window || !kv::test::FormFaults(window).isEmpty()) return std::pair{insp, false};
            window->findChild<QLineEdit*>(u"txtTo"_s)->setText(to);
            qputenv("PATH", dir.filePath(binFolder).toLocal8Bit());
            const bool sent = window->send();
            qputenv("PATH", path);
            return std::pair{insp, sent};
        };

        // New mail from the explorer starts empty, or with the signature last saved.
        const auto explorer = personal().Folders().Item(u"Inbox"_s).GetExplorer(0);
        QVERIFY(explorer->Display());
        QAction* newMail =
            std::static_pointer_cast<HostExplorer>(explorer)->window()->findChild<QAction*>(u"mnuNewMail"_s);
        newMail->trigger();
        QCOMPARE(m_side->ActiveInspector()->CurrentItem().Body(), QString());
        Item signature = m_side->application().CreateItem(olMailItem);
        signature.setBody(u"\rSee {my} card: \u00e9 \u0142\\"_s);
        QVERIFY(signature.Attachments().Add(att, olByValue, -1, u"Gil's Peerslip"_s));
        QVERIFY(QDir().mkpath(SignaturesFolder()));
        QVERIFY(!signature.SaveAs(SignaturesFolder() + u"/Kivara.rtf"_s, 7)); // no such format
        QVERIFY(signature.SaveAs(SignaturesFolder() + u"/Kivara.rtf"_s, olRTF));
        signature.Close(olDiscard);
        newMail->trigger();
        const Item started = m_side->ActiveInspector()->CurrentItem();
        QCOMPARE(started.Body(), u"\r\nSee {my} card: \u00e9 \u0142\\\r\n"_s);
        QCOMPARE(started.Attachments().Count(), 1);
        QCOMPARE(started.Attachments().Item(1).DisplayName(), u"Gil's Peerslip"_s);
        QCOMPARE(started.Attachments().Item(1).Data(), QByteArray("peerslip"));

        // No mail client on the path: kept in "Outbox", and the user is told.
        const auto [insp, keptAway] = send(u"My Peerslip"_s, u"bruno@example.com"_s, u"empty"_s);
        QVERIFY(keptAway);
        QCOMPARE(m_prompt->log().last().text, kv::host::OutboxText.toString());
        const MAPIFolder outbox = personal().Folders().Item(kv::host::OutboxFolderName.toString());
        QVERIFY(outbox);
        const Item kept = outbox.Items().Find(u"[Subject] = 'My Peerslip'"_s);
        QVERIFY(kept);
        QCOMPARE(kept.Attachments().Count(), 1);
        QCOMPARE(kept.Recipients().Item(1).Name(), u"bruno@example.com"_s);
        QVERIFY(!insp->IsDisplayed());

        // A mail client: it gets the subject, the body, the attachment and the recipients.
        QVERIFY(QDir(dir.path()).mkpath(u"bin"_s));
        const QString client = dir.filePath(u"bin/xdg-email"_s);
        QVERIFY(kv::test::WriteBytes(client, "#!/bin/sh\nexit 0\n"));
        QVERIFY(QFile::setPermissions(client, QFile::ReadOwner | QFile::ExeOwner));
        auto shell = std::make_unique<kv::platform::RecordingShell>();
        auto* calls = shell.get();
        kv::platform::Shell::install(std::move(shell));
        QVERIFY(send(u"Transcript"_s, u"ann@example.com; bruno@example.com"_s, u"bin"_s).second);
        QCOMPARE(calls->calls().size(), 1);
        const QStringList args = calls->calls().first().arguments;
        QVERIFY(calls->calls().first().target.endsWith(u"/xdg-email"_s));
        QVERIFY(args.contains(u"--subject"_s) && args.contains(u"Transcript"_s));
        QVERIFY(args.contains(u"See attached."_s));
        const qsizetype at = args.indexOf(u"--attach"_s);
        QVERIFY(at >= 0);
        QCOMPARE(kv::test::FileBytes(args.at(at + 1)), QByteArray("peerslip"));
        QCOMPARE(args.mid(args.size() - 2), QStringList({u"ann@example.com"_s, u"bruno@example.com"_s}));
    }
};

KV_TEST_MAIN(TestHostWindows)
#include "tst_hostwindows.moc"
