// Store access and contact records against the simulated computer's store:
// the relocation dialogue, folder opening and its error reports, the Messages
// folder with its welcome message, counting, converting and listing contact
// folders, and saving a peer as a Kivara contact.
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "Shared/ContactRecords.h"
#include "Shared/StoreAccess.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::outlook;

namespace {
const QString Personal = u"Personal Folders"_s;
const QString Mailbox = u"Mailbox - Ann Smith"_s;
const QString ContactClass = u"IPM.Contact.Kivara Contact"_s;
const QString StandardClass = u"IPM.Contact"_s;
const QString Title = u"Kivara for Microsoft Outlook"_s;

const QString ConnectErrorText = u"An error occured connecting to Microsoft Outlook."_s;
const QString ReinstallServiceText = u"Please reinstall the service, or update your Outlook profile."_s;
const QString LocationChangedText = u"Default location successfully changed."_s;

QString goneText(const QString& store)
{
    return u"The '"_s + store + u"' information service is no longer present in the profile.\r\r"_s;
}

// A peer's field list as SAVEUSER carries it: the command word, then the 14 fields.
QStringList peerFields(const QString& fullName, const QString& chatName, const QString& address,
                       const QString& serial, const QString& company = u"Acme"_s)
{
    return {u"SAVEUSER"_s, fullName,   company,  u"bob@example.com"_s, u"Seattle"_s, u"WA"_s,
            u"USA"_s,      u"Hello"_s, chatName, u"Available"_s,       address,      serial,
            QString(),     u"2"_s,     u"0"_s};
}

} // namespace

class TestStoreAccess : public test::HeadlessCase {
    Q_OBJECT

private:
    const QList<platform::PromptLogEntry>& shown() const { return m_desk.prompt->log(); }
    // The index-th message box shown: its text, and the product's title, icon and buttons.
    void expectBox(int index, const QString& text, const QString& icon, const QString& buttons)
    {
        QVERIFY(shown().size() > index);
        const platform::PromptLogEntry& e = shown().at(index);
        QCOMPARE(QStringList({e.text, e.icon, e.buttons, e.title}),
                 QStringList({text, icon, buttons, Title}));
    }
    void expectNotice(int index, const QString& text) { expectBox(index, text, u"Information"_s, u"OK"_s); }
    void expectQuestion(int index, const QString& text) { expectBox(index, text, u"Question"_s, u"YesNo"_s); }
    static Application app() { return Application(DefaultStorePath()); }
    static NameSpace ns() { return app().GetNamespace(u"MAPI"_s); }
    static MAPIFolder storeRoot(const QString& name) { return ns().Folders().Item(name); }
    static MAPIFolder addFolder(const QString& store, const QString& name, int type = olFolderContacts)
    {
        return storeRoot(store).Folders().Add(name, type);
    }
    static Item addContact(const MAPIFolder& folder, const QString& cls, const QString& name)
    {
        Item c = folder.Items().Add(cls);
        c.setFullName(name);
        c.Save();
        return c;
    }
    static QString rawService() { return ReadSetting(u"Settings"_s, u"Service"_s, u"<unset>"_s); }

private Q_SLOTS:
    void init() { startCase(); }
    void cleanup() { endCase(); }

    // ---- the store check and relocation

    // The configured store is gone: another is offered (Yes moves there, No keeps the setting as it
    // was), or, with none to offer, the user is told to reinstall.
    void relocation_data()
    {
        QTest::addColumn<QString>("configured"); // empty: never set
        QTest::addColumn<QStringList>("stores"); // added, and the personal store removed
        QTest::addColumn<QString>("answer");     // empty: nothing is asked
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("movedTo"); // empty: no folder opened
        const QString bob = u"Mailbox - Bob Jones"_s;
        const QString change =
            goneText(Personal) + u"Would you like to change the default location to '"_s + Mailbox + u"' ?"_s;
        const QStringList both{u"Public Folders"_s, Mailbox};
        QTest::newRow("mailbox taken")
            << QString() << both << u"Yes"_s << QStringList{change, LocationChangedText} << Mailbox;
        QTest::newRow("mailbox declined") << QString() << both << u"No"_s << QStringList{change} << QString();
        QTest::newRow("personal taken")
            << bob << QStringList() << u"Yes"_s
            << QStringList{goneText(bob) + u"Would you like to set the default location to '"_s + Personal +
                               u"' ?"_s,
                           LocationChangedText}
            << Personal;
        QTest::newRow("mailbox gone, no personal store")
            << bob << QStringList{u"Archive"_s} << QString()
            << QStringList{goneText(bob) + ReinstallServiceText} << QString();
        QTest::newRow("personal gone, no mailbox")
            << Personal << QStringList{u"Archive"_s} << QString()
            << QStringList{goneText(Personal) + ReinstallServiceText} << QString();
    }
    void relocation()
    {
        QFETCH(QString, configured);
        QFETCH(QStringList, stores);
        QFETCH(QString, answer);
        QFETCH(QStringList, texts);
        QFETCH(QString, movedTo);
        if (!configured.isEmpty()) WriteSetting(u"Settings"_s, u"Service"_s, configured);
        for (const QString& store : stores)
            QVERIFY(ns().AddStore(store));
        if (!stores.isEmpty()) QVERIFY(ns().RemoveStore(Personal));
        if (!answer.isEmpty()) m_desk.rules(u"msgbox default location => "_s + answer);

        StoreAccess access(movedTo == Personal ? Deliverable::Quillon : Deliverable::Vigilo);
        QCOMPARE(access.OpenFolder(u"Kivara"_s), movedTo.isEmpty() ? -1 : 0);
        QCOMPARE(m_desk.promptTexts(), texts);
        if (answer.isEmpty())
            expectNotice(0, texts.first());
        else
            expectQuestion(0, texts.first());
        QCOMPARE(rawService(),
                 movedTo.isEmpty() ? (configured.isEmpty() ? u"<unset>"_s : configured) : movedTo);
        if (movedTo.isEmpty()) {
            QVERIFY(!access.currentFolder());
        } else {
            QCOMPARE(access.serviceName(), movedTo);
            QCOMPARE(access.currentFolder().Parent().Name(), movedTo);
            QCOMPARE(access.currentFolder().DefaultMessageClass(), StandardClass);
        }
        for (const QString& store : stores)
            QCOMPARE(bool(storeRoot(store).Folders().Item(u"Kivara"_s)), store == movedTo);
    }

    void errorsReported_noStoreNamedOrNoHost()
    {
        // Dorvan's default store name is empty; given every operation, each checks it.
        StoreAccess access(Deliverable::Dorvan, CarriedOperations(Deliverable::Vigilo));
        const QString text =
            u"No information service has been specified.\rPlease reinstall Kivara for Microsoft Outlook."_s;
        QCOMPARE(access.ResolveService(), -1);
        QCOMPARE(access.CreateMessagesFolder(), -1);
        QCOMPARE(shown().size(), 2);
        expectNotice(0, QString(text).replace(u"\r"_s, u"\r\r"_s));
        expectNotice(1, QString(text).replace(u"\r"_s, u"\r\r"_s));
        QVERIFY(!access.application()); // nothing was attached

        // Other errors are reported with their number.
        m_side->setRunning(false);
        m_side->setStartable(false);
        StoreAccess vigilo(Deliverable::Vigilo);
        QCOMPARE(vigilo.GetOutlook(), ErrNo::CannotCreateObject);
        const QString description = Err().Description;
        QCOMPARE(vigilo.OpenFolder(u"Kivara"_s), -1);
        expectNotice(2, ConnectErrorText + u"\r\r429 - "_s + description);
        QVERIFY(!vigilo.application());
    }

    // ---- the Messages folder

    void messagesFolder_createdWithTheWelcomeMessage()
    {
        // Only the deliverables that carry the operation make it.
        StoreAccess quillon(Deliverable::Quillon);
        QTest::ignoreMessage(QtWarningMsg,
                             "StoreAccess: OpenMessagesFolder is not an operation of this deliverable");
        QCOMPARE(quillon.OpenMessagesFolder(u"Messages"_s), -1);
        QVERIFY(!quillon.application());
        QVERIFY(!storeRoot(Personal).Folders().Item(u"Kivara"_s));

        StoreAccess access(Deliverable::Vigilo);
        QCOMPARE(access.OpenMessagesFolder(u"Messages"_s), 0);
        QCOMPARE(shown().size(), 0);
        const MAPIFolder messages = access.messagesFolder();
        QCOMPARE(messages.Name(), u"Messages"_s);
        QCOMPARE(messages.Parent().Name(), u"Kivara"_s);
        QCOMPARE(messages.DefaultMessageClass(), u"IPM.Note"_s);
        QCOMPARE(messages.Items().Count(), 1);

        const Item welcome = messages.Items().Item(1);
        QCOMPARE(welcome.MessageClass(), u"IPM.Note.Kivara Message"_s);
        QCOMPARE(welcome.SentOnBehalfOfName(), u"Kivara"_s);
        QCOMPARE(welcome.Subject(), u"Welcome to Kivara for Microsoft Outlook!"_s);
        QVERIFY(welcome.Body().startsWith(u"Welcome to Kivara(tm) for Microsoft Outlook(R)!!!\r\n\r\n"_s));
        const UserProperties props = welcome.UserProperties();
        QVERIFY(props.Find(u"IPAddress"_s));
        QCOMPARE(props.Find(u"IPAddress"_s).Value().toString(), QString());
        QCOMPARE(props.Find(u"ChatName"_s).Value().toString(), u"Kivara"_s);
        QCOMPARE(props.Find(u"Availability"_s).Value().toString(), u"Available"_s);
        QCOMPARE(props.Find(u"MsgRead"_s).Value(), QVariant(false));
        QCOMPARE(messages.Items().Restrict(u"[MsgRead] = False"_s).Count(), 1);

        // Another deliverable finds the folder; nobody adds a second welcome.
        StoreAccess other(Deliverable::Vigilo);
        QCOMPARE(other.OpenMessagesFolder(u"Messages"_s), 0);
        QCOMPARE(other.CreateMessagesFolder(), 0);
        QVERIFY(other.messagesFolder() == messages);
        QCOMPARE(messages.Items().Count(), 1);
    }

    // ---- counting, converting and listing

    // Which items change and which are saved is the conversion window's case (tst_viewer).
    void countAndConvertFolders()
    {
        const MAPIFolder kivara = addFolder(Personal, u"Kivara"_s);
        const MAPIFolder friends = addFolder(Personal, u"Friends"_s);
        addContact(kivara, ContactClass, u"K1"_s);
        addContact(friends, StandardClass, u"A"_s);
        addContact(friends, StandardClass, u"B"_s);
        addContact(friends, ContactClass, u"C"_s);
        StoreAccess access(Deliverable::Vigilo);
        QCOMPARE(access.CountStandardContacts(u"Friends"_s), 2);
        QCOMPARE(access.CountStandardContacts(u"Contacts"_s), 0);
        QCOMPARE(shown().size(), 0);
        QCOMPARE(access.CountStandardContacts(u"Nope"_s), 0);
        expectNotice(0, u"Could not find the 'Nope' folder."_s);

        QCOMPARE(access.ConvertFolders(u"Friends"_s, u"Kivara"_s), 0);
        QCOMPARE(access.currentFolder().Name(), u"Friends"_s);
        QCOMPARE(kivara.Items().Item(1).MessageClass(), StandardClass);
        QCOMPARE(friends.Items().Item(1).MessageClass(), ContactClass);
        QCOMPARE(access.CountStandardContacts(u"Kivara"_s), 1);
        QCOMPARE(access.ConvertFolders(u"Gone"_s, u"Kivara"_s), -1); // a missing new folder is reported
        expectNotice(1, u"Could not find the 'Gone' folder."_s);

        QVERIFY(ns().SetStoreOnline(Personal, false));
        QCOMPARE(access.CountStandardContacts(u"Kivara"_s), 0);
        QCOMPARE(shown().size(), 2); // the store's failure is reported by whoever opened it
    }

    void listContactFolders_productFolderFirst()
    {
        addFolder(Personal, u"Friends"_s);
        addFolder(Personal, u"Journal"_s, olFolderJournal);
        const MAPIFolder kivara = addFolder(Personal, u"Kivara"_s);
        kivara.Folders().Add(u"Inner"_s, olFolderContacts); // not top level
        addFolder(Personal, u"Work"_s);

        StoreAccess unset(Deliverable::Dorvan); // Dorvan's defaults are empty
        // The set-up writes the store name.
        WriteSetting(u"Settings"_s, u"Service"_s, Personal);
        StoreAccess dorvan(Deliverable::Dorvan);
        const QStringList expected = {u"'Kivara' folder"_s, u"'Contacts' folder"_s, u"'Friends' folder"_s,
                                      u"'Work' folder"_s};
        QCOMPARE(dorvan.ListContactFolders(u"Kivara"_s), expected);
        QCOMPARE(dorvan.ListContactFolders(u"Work"_s).first(), u"'Work' folder"_s);
        QCOMPARE(dorvan.ListContactFolders(u"Missing"_s).first(), u"'Contacts' folder"_s);
        QCOMPARE(unset.ListContactFolders(u"Kivara"_s), QStringList()); // no store named
    }

    // ---- contact records

    void saveContact_newPeerWithoutFullName()
    {
        StoreAccess access(Deliverable::Quillon);
        QCOMPARE(SaveContact(access, peerFields(QString(), u"Bob"_s, u"127.0.0.3"_s, u"KV-B"_s), true), 0);
        QCOMPARE(shown().size(), 1);
        expectNotice(0, u"Saved 'Bob' in 'Kivara' folder."_s);
        QVERIFY(!QGuiApplication::overrideCursor());

        const Item c = access.currentFolder().Items().Find(u"[SerialNumber] = 'KV-B'"_s);
        QVERIFY(c);
        // Where each of the peer's fields lands (the other suites rely on this mapping).
        QStringList stored = {c.MessageClass(),
                              c.FullName(),
                              c.CompanyName(),
                              c.Email1Address(),
                              c.BusinessAddressCity(),
                              c.BusinessAddressState(),
                              c.BusinessAddressCountry(),
                              c.Body()};
        for (const char16_t* name :
             {u"QuillonName", u"UserStatus", u"LocalHost", u"LocalPort", u"SerialNumber"})
            stored << c.UserProperties().Find(QString::fromUtf16(name)).Value().toString();
        QCOMPARE(stored, (QStringList{ContactClass, u"Bob"_s, u"Acme"_s, u"bob@example.com"_s, u"Seattle"_s,
                                      u"WA"_s, u"USA"_s, u"Hello"_s, u"Bob"_s, u"Available"_s, u"127.0.0.3"_s,
                                      u"8086"_s, u"KV-B"_s}));
    }

    void saveContact_emptyAddressRefusedBeforeTheStore()
    {
        m_side->setRunning(false);
        m_side->setStartable(false);
        StoreAccess access(Deliverable::Quillon);
        QCOMPARE(SaveContact(access, peerFields(u"Eve"_s, u"eve"_s, QString(), u"KV-E"_s), false), -1);
        QCOMPARE(shown().size(), 1);
        expectNotice(0, u"No network address was specified for this contact.\r\rCannot save this contact."_s);
        QVERIFY(!access.application());
        QVERIFY(!QGuiApplication::overrideCursor());
        // Too short a list is a missing address, not a crash.
        QCOMPARE(SaveContact(access, {u"SAVEUSER"_s, u"Eve"_s}, false), -1);
    }

    // A peer without an identifier is never taken for a contact made by hand, which has none either.
    // A caller's contact that a form shows unsaved becomes the stored one: closing
    // the form afterwards must not store the caller a second time.
    void saveContact_besideContactsMadeByHandOrShownUnsaved()
    {
        StoreAccess access(Deliverable::Quillon);
        QCOMPARE(access.OpenFolder(u"Kivara"_s), 0);
        const Items items = access.currentFolder().Items();
        const Item byHand = addContact(access.currentFolder(), ContactClass, u"Hal by hand"_s);
        QCOMPARE(SaveContact(access, peerFields(u"Ida"_s, u"ida"_s, u"127.0.0.9"_s, QString()), false), 0);
        QCOMPARE(items.Count(), 2);
        QCOMPARE(items.Find(u"[FullName] = 'Hal by hand'"_s).EntryID(), byHand.EntryID());
        QCOMPARE(shown().size(), 0);

        const Item form = items.Add(ContactClass);
        form.UserProperties().Find(u"SerialNumber"_s).setValue(u"KV-J"_s);
        QCOMPARE(SaveContact(access, peerFields(u"Jo"_s, u"jo"_s, u"127.0.0.10"_s, u"KV-J"_s), false, form), 0);
        QVERIFY(!form.EntryID().isEmpty());
        QCOMPARE(form.FullName(), u"Jo"_s);
        QVERIFY(form.Save());
        QCOMPARE(items.Count(), 3);
        // Another peer, or a form already saved, gets a contact of its own.
        QCOMPARE(SaveContact(access, peerFields(u"Kim"_s, u"kim"_s, u"127.0.0.11"_s, u"KV-K"_s), false, form), 0);
        QCOMPARE(items.Count(), 4);
        QCOMPARE(form.FullName(), u"Jo"_s);
    }

    // Neither a missing form nor a store that fails saves anything; each is told as itself.
    void saveContact_formNotInstalledOrStoreFailing()
    {
        QVERIFY(UnregisterForm(app(), ContactClass));
        StoreAccess access(Deliverable::Quillon);
        QCOMPARE(SaveContact(access, peerFields(u"Hal"_s, u"hal"_s, u"127.0.0.9"_s, u"KV-H"_s), true), -1);
        QCOMPARE(shown().size(), 1);
        expectNotice(0,
                     u"Cannot create new Kivara Contact item.  The Kivara Contact form is not installed."_s);
        QVERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(access.currentFolder().Items().Count(), 0);

        QVERIFY(RegisterProductForms(app()));
        QVERIFY(ns().SetStoreOnline(Personal, false));
        QCOMPARE(SaveContact(access, peerFields(u"Ivy"_s, u"ivy"_s, u"127.0.0.10"_s, u"KV-I"_s), true), -1);
        QCOMPARE(shown().size(), 2);
        QVERIFY(shown().last().text.endsWith(u"\r\r"_s + Personal));
        QVERIFY(!QGuiApplication::overrideCursor());
    }
};

KV_TEST_MAIN(TestStoreAccess)
#include "tst_storeaccess.moc"
