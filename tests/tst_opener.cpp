// Dorvan's command dispatch in this process. The shipped program receiving a
// file is tst_filesend's.
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Shell.h"
#include "Shared/modReg.h"
#include "Vigilo/Opener/frmFile.h"
#include "Vigilo/Opener/frmOpen.h"
#include "testing/FileTransferSupport.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv::dorvan;

class TestOpener : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void commandWords();

    void openKVFolderAndMessagesStartReuseOrSwitchTheWindow();
    void folderErrorsAreReported();

private:
    // A fresh mail store for the case, and a window side without windows.
    std::shared_ptr<kv::outlook::HeadlessWindowSide> useStore(bool running);
    kv::outlook::MAPIFolder personal() const;

    std::unique_ptr<QTemporaryDir> m_data;
    QByteArray m_savedDataHome;
    kv::test::TransferDesk m_desk;
};

void TestOpener::init()
{
    kv::WriteSetting(kv::settings::Service, u"Personal Folders"_s);
    kv::WriteSetting(kv::settings::Folder, u"Kivara"_s);
    kv::WriteSetting(kv::settings::AcceptFiles, u"0"_s);
    m_desk.install();
}

void TestOpener::cleanup()
{
    m_desk.remove();
    kv::outlook::WindowSide::install(nullptr);
    if (m_data) {
        qputenv("XDG_DATA_HOME", m_savedDataHome);
        m_data.reset();
    }
}

std::shared_ptr<kv::outlook::HeadlessWindowSide> TestOpener::useStore(bool running)
{
    m_data = std::make_unique<QTemporaryDir>();
    m_savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", m_data->path().toLocal8Bit());
    auto side = std::make_shared<kv::outlook::HeadlessWindowSide>(running);
    kv::outlook::WindowSide::install(side);
    return side;
}

kv::outlook::MAPIFolder TestOpener::personal() const
{
    return kv::outlook::Application(kv::outlook::DefaultStorePath())
        .GetNamespace(u"MAPI"_s)
        .Folders()
        .Item(u"Personal Folders"_s);
}

void TestOpener::commandWords()
{
    const std::pair<QString, Route> rows[] = {
        {u"uninstall"_s, Route::Uninstall},
        {u"openkvfolder"_s, Route::OpenKVFolder},
        {u"openkvmessage"_s, Route::OpenKVMessages},
        {u"receivedfiles"_s, Route::ReceivedFiles},
        {u""_s, Route::Conversion},
        {u"SHOWUSER|Ann|Acme"_s, Route::ShowUser},
        {u"FILEPREP|Bob|a.txt|5|127.0.0.3|8087|Ann"_s, Route::FilePrep},
        {u"FILEPREP|Bob|SHOWUSER.txt|5|127.0.0.3|8087|Ann"_s, Route::FilePrep}, // a file titled showuser
        // A command word only as the whole line, in its own case, or at the start of a message.
        {u"xxSHOWUSERxx"_s, Route::Nothing},
        {u"hello FILEPREP"_s, Route::Nothing},
        {u"Uninstall"_s, Route::Nothing},
        {u"showuser|a"_s, Route::Nothing},
        {u"openkvfolder "_s, Route::Nothing},
        {u"openkvmessages"_s, Route::Nothing},
    };
    for (const auto& [line, route] : rows)
        QVERIFY2(Classify(line) == route, qPrintable(line));

    // Commands that end without a window. A setting removed first, the line, where it ends. Unanswered, the
    // uninstaller's first question keeps the product.
    const QString filePrep = u"FILEPREP|Bob|a.txt|5|127.60.40.3|8087|Ann"_s;
    const std::tuple<QString, QString, Route> ends[] = {
        {u"InstallDir"_s, filePrep, Route::EarlyEnd},  {u"Service"_s, filePrep, Route::EarlyEnd},
        {u"Folder"_s, filePrep, Route::EarlyEnd},      {QString(), u"hello"_s, Route::Nothing},
        {QString(), u"uninstall"_s, Route::Uninstall},
    };
    for (const auto& [missing, line, route] : ends) {
        const QString kept = kv::ReadSetting(u"Settings"_s, missing, QString());
        if (!missing.isEmpty())
            kv::platform::Registry::deleteValue(kv::RegRoot::CurrentUser,
                                                kv::ProductKey.toString() + u"Settings"_s, missing);
        frmOpen w;
        QSignalSpy unloaded(&w, &frmOpen::Unloaded);
        QVERIFY2(w.Start(line) == route, qPrintable(line + missing));
        QVERIFY(!unloaded.isEmpty());
        QVERIFY(!w.fileWindow());
        QVERIFY(m_desk.shell->calls().isEmpty());
        if (!missing.isEmpty()) QVERIFY(m_desk.prompt->shown().isEmpty());
        if (!missing.isEmpty()) kv::WriteSetting(u"Settings"_s, missing, kept);
    }
}

void TestOpener::openKVFolderAndMessagesStartReuseOrSwitchTheWindow()
{
    using namespace kv::outlook;
    const auto side = useStore(false);
    QSignalSpy shown(side.get(), &HeadlessWindowSide::explorerDisplayed);

    // Nothing running: the host is started, the folder made and shown in a new window.
    frmOpen started;
    QSignalSpy unloaded(&started, &frmOpen::Unloaded);
    QCOMPARE(started.Start(u"openkvfolder"_s), Route::OpenKVFolder);
    QVERIFY(!unloaded.isEmpty() && side->IsRunning());
    const MAPIFolder inbox = personal().Folders().Item(u"Inbox"_s);
    const MAPIFolder product = personal().Folders().Item(u"Kivara"_s);
    QVERIFY(inbox && product);
    QCOMPARE(product.DefaultItemType(), int(olFolderContacts));
    QCOMPARE(side->openExplorers().size(), 1);
    const std::shared_ptr<Explorer> first = side->openExplorers().first();
    QCOMPARE(first->CurrentFolder(), product);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().first().toString(), u"Kivara"_s);

    // The active window shows another folder: it switches, no new window.
    frmOpen w;
    QVERIFY(first->setCurrentFolder(inbox));
    shown.clear();
    QCOMPARE(w.OpenKVFolder(u"Personal Folders"_s, u"Kivara"_s), 0);
    QCOMPARE(side->openExplorers().size(), 1);
    QCOMPARE(first->CurrentFolder(), product);
    QCOMPARE(shown.size(), 0);

    // It already shows the folder: brought to the front of another window, not switched.
    const std::shared_ptr<Explorer> other = inbox.GetExplorer(0);
    QVERIFY(other->Display());
    QCOMPARE(side->ActiveExplorer(), other);
    QVERIFY(other->setCurrentFolder(product));
    shown.clear();
    QCOMPARE(w.OpenKVFolder(u"Personal Folders"_s, u"Kivara"_s), 0);
    QCOMPARE(side->ActiveExplorer(), other);
    QCOMPARE(side->openExplorers().size(), 2);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(other->CurrentFolder(), product);
    QCOMPARE(personal().Folders().Count(), 4); // nothing new was made

    // The Messages folder (here renamed) is made inside it and shown in the active window, once.
    kv::WriteSetting(kv::settings::MsgFolder, u"Other Name"_s);
    frmOpen messagesOpener;
    QCOMPARE(messagesOpener.Start(u"openkvmessage"_s), Route::OpenKVMessages);
    const MAPIFolder messages = product.Folders().Item(u"Other Name"_s);
    QCOMPARE(messages.DefaultMessageClass(), u"IPM.Note"_s);
    QCOMPARE(side->ActiveExplorer()->CurrentFolder(), messages);
    QCOMPARE(w.OpenKVMessages(u"Personal Folders"_s, u"Kivara"_s), 0);
    QCOMPARE(side->openExplorers().size(), 2);
    QCOMPARE(product.Folders().Count(), 1);
    QVERIFY(m_desk.prompt->shown().isEmpty());
    kv::WriteSetting(kv::settings::MsgFolder, u"Messages"_s);
}

void TestOpener::folderErrorsAreReported()
{
    using namespace kv::outlook;
    const auto side = useStore(true);
    frmOpen w;
    // A store that does not exist.
    QCOMPARE(w.OpenKVFolder(u"Archive"_s, u"Kivara"_s), ErrNo::Exception);
    QVERIFY2(m_desk.prompt->shown().last().startsWith(
                 u"An error occured connecting to Microsoft Outlook.\r\r80020009 - "_s),
             qPrintable(m_desk.prompt->shown().last()));
    QCOMPARE(w.OpenKVMessages(u"Archive"_s, u"Kivara"_s), ErrNo::Exception);
    QCOMPARE(m_desk.prompt->shown().last(), u"Could not open the Kivara 'Messages' folder."_s);

    // A store that cannot be opened: its own text and the store's name.
    const NameSpace ns = Application(DefaultStorePath()).GetNamespace(u"MAPI"_s);
    QVERIFY(ns.AddStore(u"Mailbox"_s));
    QVERIFY(ns.SetStoreOnline(u"Mailbox"_s, false));
    QCOMPARE(w.OpenKVFolder(u"Mailbox"_s, u"Kivara"_s), ErrNo::StoreFailed);
    QVERIFY(m_desk.prompt->shown().last().endsWith(u"\r\rMailbox"_s));
    QCOMPARE(w.OpenKVMessages(u"Mailbox"_s, u"Kivara"_s), ErrNo::StoreFailed);
    QVERIFY(m_desk.prompt->shown().last().endsWith(u"\r\rMailbox"_s));

    // No host running and none can be started.
    side->setRunning(false);
    side->setStartable(false);
    QCOMPARE(w.OpenKVFolder(u"Personal Folders"_s, u"Kivara"_s), ErrNo::CannotCreateObject);
    QVERIFY2(m_desk.prompt->shown().last().startsWith(
                 u"An error occured connecting to Microsoft Outlook.\r\r429 - "_s),
             qPrintable(m_desk.prompt->shown().last()));
    QVERIFY(side->openExplorers().isEmpty());
    QVERIFY(!personal().Folders().Item(u"Kivara"_s));
}

KV_TEST_MAIN(TestOpener)
#include "tst_opener.moc"
