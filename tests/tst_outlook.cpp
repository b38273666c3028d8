// The mail-store object model as its callers drive it: errors read after each
// call, folders found or created, Kivara contacts and messages found by their
// user properties, forms, attachments, rich-text export and the window side.
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

namespace {
const QString Personal = u"Personal Folders"_s;
const QString ContactClass = KivaraContactClass.toString();
const QString MessageClass = KivaraMessageClass.toString();
} // namespace

class TestOutlook : public QObject {
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    std::shared_ptr<HeadlessWindowSide> m_side;

    QString storePath() const { return m_dir->filePath(u"store.sqlite"_s); }
    Application app() const { return Application(storePath()); }
    NameSpace ns() const { return app().GetNamespace(u"MAPI"_s); }
    MAPIFolder personal() const { return ns().Folders().Item(Personal); }
    MAPIFolder folder(const QString& name, int type)
    {
        MAPIFolder f = personal().Folders().Item(name);
        if (!f) f = personal().Folders().Add(name, type);
        return f;
    }
    Item newContact(const MAPIFolder& f, const QString& serial, const QString& name = {})
    {
        Item c = f.Items().Add(ContactClass);
        c.setFullName(name.isEmpty() ? u"Peer "_s + serial : name);
        c.UserProperties().Find(u"SerialNumber"_s).setValue(serial);
        c.UserProperties().Find(u"LocalPort"_s).setValue(8086);
        return c;
    }
    Item newMessage(const MAPIFolder& f, const QString& from, bool read)
    {
        Item m = f.Items().Add(MessageClass);
        m.setSentOnBehalfOfName(from);
        m.setSubject(u"Hello from "_s + from);
        m.UserProperties().Find(u"ChatName"_s).setValue(from);
        m.UserProperties().Find(u"MsgRead"_s).setValue(read);
        return m;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = new QTemporaryDir;
        m_side = std::make_shared<HeadlessWindowSide>();
        WindowSide::install(m_side);
        QVERIFY(RegisterProductForms(storePath()));
    }
    void cleanup()
    {
        WindowSide::install(nullptr);
        m_side.reset();
        delete m_dir;
        m_dir = nullptr;
    }

    // ---- store

    void store_sharedConnectionsAndOlderLayouts()
    {
        // Another copy of this library in the process (the host and the
        // control library it loads) counts its own connections from 1.
        QStringList foreign;
        for (int n = 1; n <= 200; ++n) {
            foreign << u"kvoutlook-%1"_s.arg(n);
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, foreign.last());
            db.setDatabaseName(u":memory:"_s);
            QVERIFY(db.open());
        }
        MAPIFolder inbox = personal().Folders().Item(u"Inbox"_s);
        QVERIFY(inbox);
        QVERIFY(newMessage(inbox, u"Ann"_s, false).Save());
        for (const QString& name : foreign) {
            QVERIFY2(QSqlDatabase::database(name, false).isOpen(), qPrintable(name));
            QSqlDatabase::removeDatabase(name);
        }
        QCOMPARE(inbox.Items().Count(), 1);

        const QString path = m_dir->filePath(u"old.sqlite"_s);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"old"_s);
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QString error;
            QVERIFY2(Store::migrate(db, 1, &error), qPrintable(error));
            QSqlQuery q(db);
            QVERIFY(q.exec(
                u"INSERT INTO items (folder_id, message_class, full_name) VALUES (4, 'IPM.Contact', 'Old')"_s));
            QCOMPARE(QSqlQuery(u"PRAGMA user_version"_s, db).next(), true);
            db.close();
        }
        QSqlDatabase::removeDatabase(u"old"_s);
        Application a(path);
        MAPIFolder contacts =
            a.GetNamespace(u"MAPI"_s).Folders().Item(Personal).Folders().Item(u"Contacts"_s);
        QCOMPARE(contacts.Items().Count(), 1);
        QCOMPARE(contacts.Items().Find(u"[FullName] = 'old'"_s).FullName(), u"Old"_s);
        QCOMPARE(Store::forPath(path)->schemaVersion(), Store::latestSchemaVersion());
    }

    void store_damagedFileFailsAndStaysUntouched_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not a store") << u"garbage"_s;
        QTest::newRow("truncated") << u"truncated"_s;
        QTest::newRow("short header") << u"short"_s;
    }
    void store_damagedFileFailsAndStaysUntouched()
    {
        QFETCH(QString, kind);
        const QString path = m_dir->filePath(u"damaged.sqlite"_s);
        if (kind == u"garbage"_s) {
            QVERIFY(kv::test::WriteBytes(path, QByteArray(8192, 'x')));
        } else {
            {
                // A real store with some content, checkpointed into the main file.
                Application a(path);
                MAPIFolder inbox =
                    a.GetNamespace(u"MAPI"_s).Folders().Item(Personal).Folders().Item(u"Inbox"_s);
                for (int i = 0; i < 200; ++i) {
                    Item m = inbox.Items().Add();
                    m.setBody(QString(500, u'a'));
                    QVERIFY(m.Save());
                }
            }
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"checkpoint"_s);
                db.setDatabaseName(path);
                QVERIFY(db.open());
                QSqlQuery(u"PRAGMA wal_checkpoint(TRUNCATE)"_s, db);
                QSqlQuery(u"PRAGMA journal_mode=DELETE"_s, db);
                db.close();
            }
            QSqlDatabase::removeDatabase(u"checkpoint"_s);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.resize(kind == u"short"_s ? 60 : f.size() / 2));
        }
        const QByteArray bytes = kv::test::FileBytes(path);
        QVERIFY(!bytes.isEmpty());

        Application a(path);
        NameSpace n = a.GetNamespace(u"MAPI"_s);
        QVERIFY(n);
        QVERIFY_ERR(n.Folders().Item(Personal), ErrNo::StoreFailed);
        QVERIFY2(Err().Description.contains(path), qPrintable(Err().Description));
        QCOMPARE(n.Folders().Count(), 0);
        QCOMPARE(Err().hex(), u"8004011D"_s);

        QCOMPARE(kv::test::FileBytes(path), bytes);
        QVERIFY(!QFile::exists(path + u"-wal"_s) || QFileInfo(path + u"-wal"_s).size() == 0);
    }

    // ---- application and namespace

    void application_attachAndStart()
    {
        m_side->setRunning(false);
        m_side->setStartable(false);
        QVERIFY_ERR(Application::GetObject(), ErrNo::CannotCreateObject);
        QVERIFY_ERR(Application::CreateObject(), 429);
        m_side->setStartable(true);
        QVERIFY(!Application::GetObject());
        QVERIFY(Application::CreateObject());
        QCOMPARE(Err().Number, 0);
        QVERIFY(Application::GetObject());
        QVERIFY_ERR(app().GetNamespace(u"OTHER"_s), ErrNo::InvalidArg);
        QVERIFY(!ns().CurrentUser().isEmpty());
        QCOMPARE(FullNameFromGecos(u"Ann Smith,,,"_s), u"Ann Smith"_s);
        QCOMPARE(FullNameFromGecos(u""_s), u"Unknown"_s);
        QCOMPARE(FullNameFromGecos(u",room 4"_s), u"Unknown"_s);
    }

    void namespace_storesAndErrors()
    {
        NameSpace n = ns();
        QVERIFY_ERR(n.Folders().Item(u"Mailbox - Ann Smith"_s), ErrNo::Exception);
        QVERIFY(!n.Folders().Item(0) && Err().Number == ErrNo::NotFound);
        QVERIFY(!n.Folders().Item(2) && Err().Number == ErrNo::NotFound);

        QVERIFY(n.AddStore(u"Mailbox - Ann Smith"_s));
        QVERIFY_ERR(n.AddStore(u"mailbox - ann smith"_s), ErrNo::Collision);
        QCOMPARE(n.Folders().Count(), 2);
        QCOMPARE(n.Folders().Item(2).Name(), u"Mailbox - Ann Smith"_s);
        QCOMPARE(n.Folders().Item(u"Mailbox - Ann Smith"_s).Folders().Item(u"Contacts"_s).DefaultItemType(),
                 int(olFolderContacts));

        // An offline store is listed but does not open.
        QVERIFY(n.SetStoreOnline(u"Mailbox - Ann Smith"_s, false));
        QVERIFY_ERR(n.Folders().Item(u"Mailbox - Ann Smith"_s), ErrNo::StoreFailed);
        QVERIFY(!Err().Description.isEmpty());
        const MAPIFolder listed = n.Folders().Item(2);
        QCOMPARE(listed.Name(), u"Mailbox - Ann Smith"_s);
        QVERIFY_ERR(listed.Folders().Item(u"Contacts"_s), ErrNo::StoreFailed);

        QVERIFY(n.RemoveStore(u"Mailbox - Ann Smith"_s));
        QCOMPARE(n.Folders().Count(), 1);
        QVERIFY_ERR(n.RemoveStore(u"Mailbox - Ann Smith"_s), ErrNo::Exception);
        // The personal store can go too, as when a profile loses it.
        QVERIFY(n.RemoveStore(Personal));
        QCOMPARE(n.Folders().Count(), 0);
    }

    // ---- folders

    void folder_addRenameAndChains()
    {
        MAPIFolder root = personal();
        MAPIFolder kv = root.Folders().Add(u"Kivara"_s, olFolderContacts);
        QVERIFY(kv);
        QCOMPARE(kv.DefaultMessageClass(), u"IPM.Contact"_s);
        QCOMPARE(kv.Parent(), root);
        MAPIFolder msgs = kv.Folders().Add(u"Messages"_s, olFolderInbox);
        QCOMPARE(msgs.DefaultMessageClass(), u"IPM.Note"_s);
        QCOMPARE(msgs.Parent().Name(), u"Kivara"_s);

        QVERIFY_ERR(root.Folders().Add(u"KIVARA"_s, olFolderContacts), ErrNo::Exception);
        QVERIFY_ERR(root.Folders().Add(u"Odd"_s, 42), ErrNo::InvalidArg);
        QVERIFY(!root.Folders().Add(u""_s, olFolderInbox));
        QCOMPARE(root.Folders().Count(), 4);

        // A chain stops at its first failure and keeps that error.
        QVERIFY(!ns().Folders().Item(u"Missing"_s).Folders().Item(u"Kivara"_s).Items().Find(u"[x] = 'y'"_s));
        QCOMPARE(Err().Number, ErrNo::Exception);
        ClearErr();
        QVERIFY_ERR(MAPIFolder().Folders(), ErrNo::ObjectNotSet);

        QVERIFY_ERR(kv.setName(u"Inbox"_s), ErrNo::Collision);
        QVERIFY(kv.setName(u"Chat Contacts"_s));
        QCOMPARE(root.Folders().Item(u"chat contacts"_s), kv);
        QCOMPARE(root.Folders().Item(u"Kivara"_s).Name(), QString());
        QCOMPARE(Err().Number, ErrNo::Exception);

        // A held folder that another process removed.
        MAPIFolder held =
            ns().AddStore(u"Mailbox - Ann Smith"_s).Folders().Add(u"Kivara"_s, olFolderContacts);
        QVERIFY(held);
        QVERIFY(ns().RemoveStore(u"Mailbox - Ann Smith"_s));
        QVERIFY_ERR(held.Folders().Item(u"Messages"_s), ErrNo::CantCallOut);
    }

    // ---- items and forms

    void items_formsAndFindingBySerialNumber()
    {
        MAPIFolder kv = folder(u"Kivara"_s, olFolderContacts);
        QVERIFY(UnregisterForm(app(), ContactClass));
        QVERIFY(!kv.Items().Add(ContactClass));
        QVERIFY(Err().Number != 0);
        QVERIFY(!kv.Items().Add(u"IPM.Contact.Something Else"_s));
        Item plain = kv.Items().Add(u"IPM.Contact"_s);
        QVERIFY(plain);
        QCOMPARE(plain.UserProperties().Count(), 0);
        QVERIFY(!plain.UserProperties().Find(u"SerialNumber"_s));
        QCOMPARE(Err().Number, 0); // a missing property is Nothing, not an error
        // Setting it fails without a message: the caller's trapped error.
        QVERIFY_ERR(plain.UserProperties().Find(u"SerialNumber"_s).setValue(u"x"_s), ErrNo::ObjectNotSet);

        QVERIFY(RegisterProductForms(app()));
        QVERIFY(RegisterProductForms(app())); // the set-up may run again
        Item c = kv.Items().Add(ContactClass);
        QVERIFY(c);
        QVERIFY(c.isContact());
        QStringList names;
        for (int i = 1; i <= c.UserProperties().Count(); ++i)
            names << c.UserProperties().Item(i).Name();
        QCOMPARE(names, (QStringList{u"QuillonName"_s, u"UserStatus"_s, u"LocalHost"_s, u"LocalPort"_s,
                                     u"SerialNumber"_s}));
        QVERIFY(!c.UserProperties().Find(u"MsgRead"_s));

        MAPIFolder msgs = kv.Folders().Add(u"Messages"_s, olFolderInbox);
        Item m = msgs.Items().Add(MessageClass);
        QVERIFY(!m.isContact());
        const UserProperty read = m.UserProperties().Find(u"msgread"_s);
        QCOMPARE(read.Type(), int(olYesNo));
        QCOMPARE(read.Value(), QVariant(false));
        QVERIFY(read.setValue(u"True"_s));
        QCOMPARE(read.Value(), QVariant(true));
        QVERIFY_ERR(read.setValue(u"perhaps"_s), ErrNo::TypeMismatch);
        // A contact member on a message: as reading NickName of a mail.
        QCOMPARE(m.NickName(), QString());
        QCOMPARE(Err().Number, ErrNo::NotSupported);
        QVERIFY_ERR(c.setSubject(u"x"_s), ErrNo::NotSupported);
        QCOMPARE(msgs.Items().Count(), 0); // not saved yet
        QVERIFY(m.Save());
        QVERIFY(!m.EntryID().isEmpty());
        QCOMPARE(msgs.Items().Count(), 1);

        // Kivara contacts found by their identifier.
        QVERIFY2(newContact(kv, u"KV-1"_s).Save(), qPrintable(Err().Description));
        QVERIFY(newContact(kv, u"O'Brien's"_s, u"Pat"_s).Save());
        QVERIFY(newContact(kv, u"KV-3"_s).Save());

        Item found = kv.Items().Find(u"[SerialNumber] = 'KV-3'"_s);
        QVERIFY(found);
        QCOMPARE(Err().Number, 0);
        QCOMPARE(found.FullName(), u"Peer KV-3"_s);
        QCOMPARE(found.UserProperties().Find(u"LocalPort"_s).Value().toInt(), 8086);
        QCOMPARE(kv.Items().Find(u"[SerialNumber] = 'O''Brien''s'"_s).FullName(), u"Pat"_s);
        QCOMPARE(kv.Items().Find(u"  [SerialNumber]='kv-1'  "_s).FullName(), u"Peer KV-1"_s);

        QVERIFY_ERR(kv.Items().Find(u"[SerialNumber] = 'KV-9'"_s), 0);
        QVERIFY(kv.Items().Find(u"[LocalPort] = 8086"_s));
        QVERIFY(kv.Items().Find(u"[LocalPort] = '8086'"_s));
        QCOMPARE(kv.Items().Restrict(u"[LocalPort] = 8086"_s).Count(), 3);

        // Anything but "[Name] = value" fails; nothing is run as a query.
        const QStringList bad = {u""_s,
                                 u"SerialNumber = 'KV-1'"_s,
                                 u"[SerialNumber] = 'KV-1"_s,
                                 u"[SerialNumber] = KV-1"_s,
                                 u"[SerialNumber] = 'KV-1' OR 1=1"_s,
                                 u"[SerialNumber] = 'x' OR [SerialNumber] <> 'x'"_s,
                                 u"[SerialNumber] = ''; DROP TABLE items; --'"_s,
                                 u"[SerialNumber] <> 'KV-1'"_s,
                                 u"[] = 'x'"_s,
                                 u"[SerialNumber = 'x'"_s,
                                 u"[NoSuchProperty] = 'x'"_s,
                                 u"[LocalPort] = 'eighty'"_s,
                                 QString(5000, u'[')};
        for (const QString& filter : bad) {
            QVERIFY2(!kv.Items().Find(filter), qPrintable(filter));
            QVERIFY2(Err().Number != 0, qPrintable(filter));
        }
        // A quoted attempt is only a value.
        QVERIFY_ERR(kv.Items().Find(u"[SerialNumber] = 'x'' OR ''1''=''1'"_s), 0);
        QCOMPARE(kv.Items().Count(), 3);
    }

    void item_deleteMoveAndStaleHandles()
    {
        MAPIFolder kv = folder(u"Kivara"_s, olFolderContacts);
        MAPIFolder msgs = kv.Folders().Add(u"Messages"_s, olFolderInbox);
        MAPIFolder bin = personal().Folders().Item(u"Deleted Items"_s);

        // Saved in the product folder, then moved, as a left message is stored.
        Item m = newMessage(kv, u"ann"_s, false);
        QVERIFY(m.Save());
        Item moved = m.Move(msgs);
        QVERIFY(moved);
        QCOMPARE(moved.Parent(), msgs);
        QCOMPARE(kv.Items().Count(), 0);
        QCOMPARE(msgs.Items().Restrict(u"[MsgRead] = False"_s).Count(), 1);
        QVERIFY(!kv.Items().Find(u"[ChatName] = 'ann'"_s));
        QVERIFY(msgs.Items().Find(u"[ChatName] = 'ann'"_s));
        QCOMPARE(moved.Move(msgs), moved); // into its own folder: stays

        // An unsaved item moved is saved there.
        Item fresh = newMessage(kv, u"bob"_s, false);
        QVERIFY(fresh.Move(msgs));
        QCOMPARE(msgs.Items().Count(), 2);
        QVERIFY_ERR(msgs.Items().Item(3), ErrNo::NotFound);

        Item c = newContact(kv, u"KV-1"_s);
        QVERIFY(c.Save());
        Item other = kv.Items().Find(u"[SerialNumber] = 'KV-1'"_s);
        QVERIFY(c.Delete());
        QCOMPARE(kv.Items().Count(), 0);
        QCOMPARE(bin.Items().Count(), 1);
        QVERIFY_ERR(c.Save(), ErrNo::NotFound);
        // The other handle edits it where it now lies.
        QVERIFY(other.setFullName(u"Renamed"_s));
        QVERIFY(other.Save());
        QCOMPARE(bin.Items().Item(1).FullName(), u"Renamed"_s);
        QVERIFY(bin.Items().Item(1).Delete());
        QCOMPARE(bin.Items().Count(), 0);
        QVERIFY_ERR(other.Save(), ErrNo::NotFound);

        // An item without a folder (CreateItem) is saved in Drafts.
        Item mail = app().CreateItem(olMailItem);
        mail.setSubject(u"draft"_s);
        QVERIFY(mail.Save());
        QCOMPARE(mail.Parent().Name(), u"Drafts"_s);
    }

    void mail_attachmentsRecipientsAndReading()
    {
        // The bytes are taken as the attachment is added: the caller deletes its temporary file before
        // saving.
        MAPIFolder msgs = folder(u"Messages"_s, olFolderInbox);
        const QString file = m_dir->filePath(u"ann.kvp"_s);
        QVERIFY(kv::test::WriteBytes(file, "\x01\x02PEER\xff"));
        Item m = newMessage(msgs, u"ann"_s, false);
        QCOMPARE(m.Attachments().Add(file, olByValue, 1024, u"ann's Peerslip"_s).FileName(), u"ann.kvp"_s);
        QVERIFY(QFile::remove(file));
        QVERIFY(m.Save());
        const Attachments back = msgs.Items().Find(u"[ChatName] = 'ann'"_s).Attachments();
        QCOMPARE(back.Count(), 1);
        QCOMPARE(back.Item(1).DisplayName(), u"ann's Peerslip"_s);
        QCOMPARE(back.Item(1).Position(), 1024);
        QCOMPARE(back.Item(1).Data(), QByteArray("\x01\x02PEER\xff"));
        QVERIFY(!back.Item(2));

        // Opening a message marks it read.
        QVERIFY(newMessage(msgs, u"bob"_s, false).Save());
        Items unread = msgs.Items().Restrict(u"[MsgRead] = False"_s);
        QCOMPARE(unread.Count(), 2);
        QVERIFY(unread.Item(1).Display());
        QCOMPARE(unread.Count(), 1);
        QCOMPARE(unread.Item(1).SentOnBehalfOfName(), u"bob"_s);

        Item ann = personal().Folders().Item(u"Contacts"_s).Items().Add();
        ann.setFullName(u"Ann Smith"_s);
        ann.setEmail1Address(u"ann@example.org"_s);
        QVERIFY(ann.Save());
        QVERIFY_ERR(ann.Recipients(), ErrNo::NotSupported);
        // A name is resolved through the contacts to its address.
        Item mail = app().CreateItem(olMailItem);
        QVERIFY(mail.Recipients().Add(u"ann smith"_s));
        QVERIFY(mail.Recipients().ResolveAll());
        QCOMPARE(mail.Recipients().Item(1).Address(), u"ann@example.org"_s);
    }

    // ---- window side

    void inspector_formPagesAndClose()
    {
        QPointer<QObject> control;
        std::shared_ptr<Inspector> parentSeen;
        m_side->setPageBuilder(ContactClass, u"Kivara"_s,
                               [&](const std::shared_ptr<Inspector>& insp, HeadlessWindowSide::Page& page) {
                                   auto* c = new QObject;
                                   control = c;
                                   parentSeen = insp;
                                   page.addControl(u"Kivara1"_s, c);
                               });
        QVERIFY_ERR(app().ActiveInspector(), 0);

        MAPIFolder kv = folder(u"Kivara"_s, olFolderContacts);
        Item caller = newContact(kv, u"KV-2"_s, u"Dee"_s); // unsaved, as a caller's new contact
        std::shared_ptr<Inspector> insp = caller.GetInspector();
        QVERIFY(insp);
        QVERIFY(!insp->IsDisplayed());
        QVERIFY(insp->Display());
        QCOMPARE(app().ActiveInspector(), insp);
        QVERIFY(insp->SetCurrentFormPage(u"Kivara"_s));
        QVERIFY(!insp->SetCurrentFormPage(u"Elsewhere"_s));
        QVERIFY(Err().Number != 0);
        std::shared_ptr<FormPage> page = insp->ModifiedFormPages(u"Kivara"_s);
        QVERIFY(page);
        QCOMPARE(page->Controls(u"Kivara1"_s), control.data());
        QCOMPARE(parentSeen, insp);
        QVERIFY_ERR(page->Controls(u"Kivara2"_s), ErrNo::BadIndex);
        QVERIFY_ERR(insp->ModifiedFormPages(u"General2"_s), ErrNo::BadIndex);

        // The control reads the contact through its inspector; Close(0) saves it.
        Item current = insp->CurrentItem();
        QVERIFY(current == caller);
        QCOMPARE(current.NickName(), QString());
        QCOMPARE(Err().Number, 0);
        QVERIFY(current.UserProperties().Find(u"UserStatus"_s).setValue(u"Available"_s));
        QCOMPARE(caller.GetInspector(), insp);
        QVERIFY(insp->Close(olSave));
        QVERIFY(!app().ActiveInspector());
        QVERIFY(!caller.EntryID().isEmpty());
        QCOMPARE(kv.Items().Find(u"[SerialNumber] = 'KV-2'"_s).UserProperties().Find(u"UserStatus"_s).Value(),
                 QVariant(u"Available"_s));
        QVERIFY(control);
        QTRY_VERIFY_WITH_TIMEOUT(!control, 5000);
        QVERIFY(!insp->CurrentItem());

        // A mail open in front, closed without saving.
        Item mail = app().CreateItem(olMailItem);
        QVERIFY(mail.Display());
        QVERIFY(mail.Close(olDiscard));
        QVERIFY(!app().ActiveInspector());
    }
};

KV_TEST_MAIN(TestOutlook)
#include "tst_outlook.moc"
