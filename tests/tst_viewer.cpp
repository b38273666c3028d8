// Dorvan's Peerslip viewer and folder-conversion window against the simulated
// computer's store: what the viewer shows, adding the peer as a contact, and
// converting a folder's items between the two contact forms.
#include "Control/Kivara.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "Vigilo/Opener/frmConvert.h"
#include "Vigilo/Opener/frmOpen.h"
#include "Vigilo/Opener/frmProp.h"
#include "testing/Desk.h"
#include "testing/FormCheck.h"
#include "testing/SimComputer.h"
#include "testing/StoreStamps.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::outlook;
using namespace kv::dorvan;

namespace {

const QString StoreName = u"Personal Folders"_s;
const QString KivaraClass = u"IPM.Contact.Kivara Contact"_s;
const QString StandardClass = u"IPM.Contact"_s;

// A SHOWUSER command line: the word, then the 14 fields of the profile text.
QString ShowUserLine(const QString& state, const QString& address, const QString& serial = u"KV-PEER-7"_s)
{
    return QStringList{u"SHOWUSER"_s, u"Bob Stone"_s, u"Acme"_s,  u"bob@example.com"_s, u"Seattle"_s, state,
                       u"USA"_s,      u"Hi all"_s,    u"bobby"_s, u"Stepped Out"_s,     address,      serial,
                       QString(),     u"2"_s,         u"0"_s}
        .join(u'|');
}

MAPIFolder StoreRoot()
{
    return Application(DefaultStorePath()).GetNamespace(u"MAPI"_s).Folders().Item(StoreName);
}

Item AddContact(const MAPIFolder& folder, const QString& cls, const QString& name)
{
    Item c = folder.Items().Add(cls);
    c.setFullName(name);
    c.Save();
    return c;
}

QString LabelText(QWidget* w, const QString& name)
{
    auto* l = w->findChild<QLabel*>(name);
    return l ? l->text() : u"<missing>"_s;
}

} // namespace

class TestViewer : public test::HeadlessCase {
    Q_OBJECT

private:
    void configure()
    {
        WriteSetting(settings::Service, StoreName);
        WriteSetting(settings::Folder, u"Kivara"_s);
    }

private Q_SLOTS:
    void init()
    {
        startCase();
        configure();
    }
    void cleanup() { endCase(); }

    // ---- the viewer

    // The viewer on a Peerslip without a state; closing it ends Dorvan.
    void viewerAndConversionWindow()
    {
        frmOpen main;
        QSignalSpy ended(&main, &frmOpen::Unloaded);
        QCOMPARE(main.Start(ShowUserLine(QString(), u"127.0.0.9"_s)), Route::ShowUser);
        frmProp* viewer = main.viewer();
        QVERIFY(viewer);
        QVERIFY(viewer->isVisible());
        QVERIFY(viewer->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(test::FormFaults(viewer), QString());
        QTRY_VERIFY(!viewer->windowIcon().isNull()); // set once the window has painted
        QCOMPARE(viewer->windowTitle(), u"Peerslip - bobby"_s);
        const QStringList shown = {u"Bob Stone"_s, u"bob@example.com"_s, u"Seattle"_s,     u"USA"_s,
                                   u"Hi all"_s,    u"bobby"_s,           u"Stepped Out"_s, u"Acme"_s};
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(LabelText(viewer, u"lblProp_%1"_s.arg(i)), shown[i]);
        viewer->close();
        QCOMPARE(ended.count(), 1);
        QVERIFY(main.isUnloaded());

        // A short or hostile command line fills what it has and never reads past its end.
        frmOpen few;
        few.Start(u"SHOWUSER|Ann"_s);
        QCOMPARE(LabelText(few.viewer(), u"lblProp_0"_s), u"Ann"_s);
        QCOMPARE(LabelText(few.viewer(), u"lblProp_6"_s), QString());
        QCOMPARE(few.viewer()->windowTitle(), u"Peerslip - "_s);

        // The conversion window. A start that opens the product's folder in the host program makes it; a
        // missing folder is reported.
        frmOpen opener;
        opener.Start(u"openkvfolder"_s);
        QVERIFY(opener.UpdateFormsToKV(u"Nowhere"_s, StoreName) != 0);
        QCOMPARE(m_desk.promptTexts().last(), u"Could not find the 'Nowhere' folder."_s);

        const MAPIFolder root = StoreRoot();
        const MAPIFolder friends = root.Folders().Add(u"Friends"_s, olFolderContacts);
        AddContact(friends, StandardClass, u"Plain Ann"_s);
        AddContact(friends, KivaraClass, u"Kivara Kim"_s);
        const Item note = AddContact(friends, u"IPM.Note"_s, QString()); // not a contact: kept as it is

        m_desk.rules(u"msgbox successfully updated => OK"_s);
        frmOpen convert;
        QSignalSpy convertEnded(&convert, &frmOpen::Unloaded);
        QCOMPARE(convert.Start(QString()), Route::Conversion);
        frmConvert* window = convert.conversionWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->objectName(), u"frmOpen"_s);
        QCOMPARE(window->windowTitle(), u"Kivara Contact Forms"_s);
        QCOMPARE(test::FormFaults(window), QString());
        auto* list = window->findChild<QComboBox*>(u"cboMain"_s);
        QCOMPARE(list->itemText(0), u"'Kivara' folder"_s);
        QVERIFY(list->findText(u"'Friends' folder"_s) > 0);
        QVERIFY(list->findText(u"'Contacts' folder"_s) > 0);
        QVERIFY(!QApplication::overrideCursor());

        list->setCurrentIndex(list->findText(u"'Friends' folder"_s));
        QCOMPARE(window->SelectedFolder(), u"Friends"_s);

        // Items already of the target class are not saved again.
        const Item ann = friends.Items().Find(u"[FullName] = 'Plain Ann'"_s);
        const Item kim = friends.Items().Find(u"[FullName] = 'Kivara Kim'"_s);
        QVERIFY(ann && kim);
        test::StoreStamps stamps;
        QVERIFY(stamps.ageAll());
        window->findChild<QAbstractButton*>(u"Command1"_s)->click();
        for (const Item item : friends.Items())
            QCOMPARE(item.MessageClass(), item.EntryID() == note.EntryID() ? u"IPM.Note"_s : KivaraClass);
        QVERIFY(stamps.savedSince(ann.EntryID()));
        QVERIFY(!stamps.savedSince(kim.EntryID()));
        QCOMPARE(m_desk.promptTexts().last(),
                 u"The folder items were successfully updated.\r\rAll items are now Kivara Contacts."_s);

        QVERIFY(stamps.ageAll());
        window->findChild<QRadioButton*>(u"Option1_1"_s)->setChecked(true);
        window->Command1Click();
        for (const Item item : friends.Items())
            QCOMPARE(item.MessageClass(), item.EntryID() == note.EntryID() ? u"IPM.Note"_s : StandardClass);
        QVERIFY(stamps.savedSince(ann.EntryID()) && stamps.savedSince(kim.EntryID()));
        QCOMPARE(
            m_desk.promptTexts().last(),
            u"The folder items were successfully updated.\r\rAll items are now standard Outlook contacts."_s);
        QVERIFY(stamps.ageAll());
        window->Command1Click(); // nothing left to change: nothing is saved
        QVERIFY(!stamps.savedSince(ann.EntryID()) && !stamps.savedSince(kim.EntryID()));

        window->close(); // ends Dorvan
        QCOMPARE(convertEnded.count(), 1);
        QVERIFY(convert.isUnloaded());
    }

    // A peer's Peerslip as it arrives: the chat control hands the received SHOWUSER to
    // Dorvan's command line, the viewer shows it and "Add to Contacts" files the peer; once more, it asks.
    void aReceivedPeerslipBecomesAContact()
    {
        m_desk.rules(u"msgbox update their profile => No"_s);
        // A computer of its own: the chat control binds the chat port on its address.
        m_computer = std::make_unique<test::SimComputer>(u"127.100.7.2"_s, u"KV-ANN"_s);
        m_computer->activate();
        configure();
        QCOMPARE(SaveProfile(test::UserProfile(u"Ann"_s, m_computer->localIp(), u"KV-ANN"_s), QString()), 0);
        const platform::RecordingShell* started = m_desk.shell;
        ProfileRecord peer = test::UserProfile(u"dana"_s, u"127.100.7.3"_s, u"KV-DANA-1"_s);
        peer.Company = u"Reyes & Co"_s;
        peer.City = u"Tucson"_s;
        peer.State = u"AZ"_s;
        peer.Country = u"USA"_s;
        {
            control::Kivara control;
            QCOMPARE(control.ChatInit(), 0);
            control.DataPass(BuildShowUser(ProfileFieldString(peer)));
        }
        QCOMPARE(started->calls().size(), 1);
        QVERIFY(started->calls().first().target.endsWith(u"/dorvan"_s));

        frmOpen main;
        QCOMPARE(main.Start(CommandLineOf(started->calls().first().arguments)), Route::ShowUser);
        frmProp* viewer = main.viewer();
        QCOMPARE(viewer->windowTitle(), u"Peerslip - dana"_s);
        QCOMPARE(LabelText(viewer, u"lblProp_2"_s), u"Tucson, AZ"_s);
        viewer->findChild<QAbstractButton*>(u"cmdProp_0"_s)->click();
        QCOMPARE(viewer->lastSaveResult(), 0);
        QVERIFY(viewer->isVisible());
        QCOMPARE(m_desk.promptTexts().last(), u"Saved 'dana' in 'Kivara' folder."_s);

        const MAPIFolder product = StoreRoot().Folders().Item(u"Kivara"_s);
        const Item contact = product.Items().Find(u"[SerialNumber] = 'KV-DANA-1'"_s);
        QVERIFY(contact);
        // Where each field lands is tst_storeaccess's; here the whole way there.
        QCOMPARE(contact.MessageClass(), KivaraClass);
        QCOMPARE(contact.FullName(), peer.FullName);
        QCOMPARE(contact.BusinessAddressCountry(), peer.Country);

        viewer->cmdPropClick(0);
        QCOMPARE(viewer->lastSaveResult(), -1);
        QCOMPARE(m_desk.promptTexts().last(),
                 u"This Kivara Contact already exists.\r\rDo you want to update their profile ?"_s);
        QCOMPARE(product.Items().Count(), 1);
        QVERIFY(!QApplication::overrideCursor());
    }
};

KV_TEST_MAIN(TestViewer)
#include "tst_viewer.moc"
