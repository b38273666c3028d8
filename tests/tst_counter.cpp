// The Today page's counter against the simulated computer's store: the count
// and its texts, a missing Messages folder made at the first refresh, the
// pointer's underlining and the clicks that switch the host's window, and a
// renamed Messages folder.
#include "Counter/Counter.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "Shared/modReg.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::outlook;
using kv::tallyo::Counter;

namespace {

const QString StoreName = u"Personal Folders"_s;
const QString MessageClass = u"IPM.Note.Kivara Message"_s;
// Long enough that no tick comes by itself while a case runs; cases tick by hand.
constexpr int QuietIntervalMs = 3600 * 1000;

MAPIFolder StoreRoot()
{
    return Application(DefaultStorePath()).GetNamespace(u"MAPI"_s).Folders().Item(StoreName);
}

MAPIFolder MakeFolders(const QString& messages = u"Messages"_s)
{
    MAPIFolder product = StoreRoot().Folders().Item(u"Kivara"_s);
    if (!product) product = StoreRoot().Folders().Add(u"Kivara"_s, olFolderContacts);
    return product.Folders().Add(messages, olFolderInbox);
}

void AddMessage(const MAPIFolder& folder, bool read)
{
    Item item = folder.Items().Add(MessageClass);
    item.setSubject(u"Call me"_s);
    item.UserProperties().Find(u"MsgRead"_s).setValue(read);
    item.Save();
}

QLabel* Label(Counter& c, int index)
{
    return c.findChild<QLabel*>(u"lblMain_"_s + QString::number(index));
}

void Move(QWidget* target, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, at, target->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

void Click(QWidget* target)
{
    const QPoint at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

} // namespace

class TestCounter : public test::HeadlessCase {
    Q_OBJECT

private:
    // The host's window, showing the store's Inbox.
    std::shared_ptr<Explorer> hostWindow()
    {
        const std::shared_ptr<Explorer> window = m_side->GetExplorer(StoreRoot().Folders().Item(u"Inbox"_s));
        window->Display();
        return window;
    }

private Q_SLOTS:
    void init() { startCase(); }
    void cleanup() { endCase(); }

    void aMissingFolderIsCreatedAtTheFirstRefresh()
    {
        WriteSetting(settings::MsgFolder, u"Calls"_s);
        QVERIFY(!StoreRoot().Folders().Item(u"Kivara"_s));
        Counter counter(nullptr, QuietIntervalMs);
        QCOMPARE(Label(counter, 0)->text() + u'|' + Label(counter, 1)->text(), u"Calls|No new messages"_s);
        const MAPIFolder made = StoreRoot().Folders().Item(u"Kivara"_s).Folders().Item(u"Calls"_s);
        QVERIFY(made && counter.messagesFolder() == made);
        QVERIFY(m_desk.prompt->log().isEmpty());
    }

    void aMissingStoreIsReportedOnce()
    {
        // Every tick finds the store missing; the notice comes once.
        WriteSetting(settings::Service, u"Gone Store"_s);
        {
            Counter counter(nullptr, QuietIntervalMs);
            counter.Refresh();
            counter.Refresh();
            QCOMPARE(Label(counter, 1)->text(), u"No new messages"_s);
            QCOMPARE(m_desk.prompt->log().size(), 1);
            QCOMPARE(m_desk.prompt->log().first().text,
                     u"The 'Gone Store' information service is no longer present in the profile.\r\r"
                     u"Please reinstall the service, or update your Outlook profile."_s);
        }
        // A mailbox that has gone: the personal store is offered once, and "No" sticks.
        m_desk.rules(u"msgbox .* => No\n"_s);
        WriteSetting(settings::Service, u"Mailbox - Ann"_s);
        Counter counter(nullptr, QuietIntervalMs);
        counter.Refresh();
        counter.Refresh();
        QCOMPARE(m_desk.prompt->log().size(), 1);
        QVERIFY(m_desk.prompt->log().first().text.contains(u"'Personal Folders'"_s));
        QVERIFY(!counter.messagesFolder());
    }

    void aRenamedFolderShowsTheNewNameAndCountsTheOld()
    {
        const MAPIFolder messages = MakeFolders();
        AddMessage(messages, false);
        AddMessage(messages, true); // read: not counted
        const MAPIFolder other = MakeFolders(u"Voice"_s);
        AddMessage(other, false);
        AddMessage(other, false);
        Counter counter(nullptr, QuietIntervalMs);
        QCOMPARE(Label(counter, 1)->text(), u"1 unread"_s);

        WriteSetting(settings::MsgFolder, u"Voice"_s);
        counter.Refresh();
        QCOMPARE(Label(counter, 0)->text() + u'|' + Label(counter, 1)->text(), u"Voice|1 unread"_s);
        QVERIFY(counter.messagesFolder() == messages);

        Counter fresh(nullptr, QuietIntervalMs);
        QCOMPARE(Label(fresh, 1)->text(), u"2 unread"_s);
    }

    void clicksShowTheMessagesFolderOnlyWhenUnderlined()
    {
        const MAPIFolder messages = MakeFolders();
        const std::shared_ptr<Explorer> window = hostWindow();
        Counter counter(nullptr, QuietIntervalMs);
        counter.show();
        QLabel* folderLabel = Label(counter, 0);
        QLabel* titleLabel = Label(counter, 2);
        QLabel* countLabel = Label(counter, 1);

        // Without the pointer having underlined them, clicks do nothing.
        Click(folderLabel);
        Click(titleLabel);
        Move(countLabel, {2, 2});
        Click(countLabel);
        QCOMPARE(window->CurrentFolder().Name(), u"Inbox"_s);
        QVERIFY(!countLabel->font().underline());

        Move(folderLabel, {2, 2});
        QVERIFY(folderLabel->font().underline() && !titleLabel->font().underline());
        Move(titleLabel, {2, 2});
        QVERIFY(titleLabel->font().underline());
        // Moving over the background takes both underlines away.
        Move(&counter, {1, counter.height() - 1});
        QVERIFY(!folderLabel->font().underline() && !titleLabel->font().underline());
        Click(titleLabel);
        QCOMPARE(window->CurrentFolder().Name(), u"Inbox"_s);

        Move(titleLabel, {2, 2});
        Click(titleLabel);
        QVERIFY(window->CurrentFolder() == messages);

        window->setCurrentFolder(StoreRoot().Folders().Item(u"Inbox"_s));
        Move(folderLabel, {2, 2});
        Click(folderLabel);
        QVERIFY(window->CurrentFolder() == messages);

        // The icon needs no underline.
        window->setCurrentFolder(StoreRoot().Folders().Item(u"Inbox"_s));
        Click(counter.findChild<QLabel*>(u"imgMain"_s));
        QVERIFY(window->CurrentFolder() == messages);

        if (!qEnvironmentVariableIsEmpty("KIVARA_SCREENSHOTS")) {
            Move(folderLabel, {2, 2});
            counter.grab().save(qEnvironmentVariable("KIVARA_SCREENSHOTS") + u"/counter.png"_s);
        }
    }

    // The Today page calls the counter's members by name.
    void membersAreCallableByName()
    {
        MakeFolders();
        Counter counter(nullptr, QuietIntervalMs);
        int status = -5;
        QVERIFY(QMetaObject::invokeMethod(&counter, "SetKMFolder", Q_RETURN_ARG(int, status),
                                          Q_ARG(QString, u"Archive"_s)));
        QCOMPARE(status, 0);
        QVERIFY(StoreRoot().Folders().Item(u"Kivara"_s).Folders().Item(u"Messages"_s));
        QVERIFY(QMetaObject::invokeMethod(&counter, "GetOutlook", Q_RETURN_ARG(int, status)));
        QCOMPARE(status, 0);
    }
};

KV_TEST_MAIN(TestCounter)
#include "tst_counter.moc"
