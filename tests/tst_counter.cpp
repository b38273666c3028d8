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

// Long enough that no tick comes by itself while a case runs; cases tick by hand.
constexpr int QuietIntervalMs = 3600 * 1000;

MAPIFolder StoreRoot()
{
    return Application(DefaultStorePath()).GetNamespace(u"MAPI"_s).Folders().Item(u"Personal Folders"_s);
}

MAPIFolder MakeFolders(const QString& messages = u"Messages"_s)
{
    MAPIFolder product = StoreRoot().Folders().Item(u"Kivara"_s);
    if (!product) product = StoreRoot().Folders().Add(u"Kivara"_s, olFolderContacts);
    return product.Folders().Add(messages, olFolderInbox);
}

// One message for each flag, read or not.
void AddMessages(const MAPIFolder& folder, std::initializer_list<bool> reads)
{
    for (const bool read : reads) {
        Item item = folder.Items().Add(u"IPM.Note.Kivara Message"_s);
        item.setSubject(u"Call me"_s);
        item.UserProperties().Find(u"MsgRead"_s).setValue(read);
        item.Save();
    }
}

QLabel* Label(Counter& c, int index)
{
    return c.findChild<QLabel*>(u"lblMain_"_s + QString::number(index));
}

// A mouse event at a point of target; a press holds its button.
void Send(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton)
{
    QMouseEvent event(type, at, target->mapToGlobal(at), button,
                      type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestCounter : public test::HeadlessCase {
    Q_OBJECT

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
        QVERIFY(made && counter.messagesFolder() == made && m_desk.prompt->log().isEmpty());
        // The Today page calls the counter's members by name; the folder made stays.
        int kmFolder = -5, outlook = -5;
        QVERIFY(QMetaObject::invokeMethod(&counter, "SetKMFolder", Q_RETURN_ARG(int, kmFolder),
                                          Q_ARG(QString, u"Archive"_s)));
        QVERIFY(QMetaObject::invokeMethod(&counter, "GetOutlook", Q_RETURN_ARG(int, outlook)));
        QVERIFY(kmFolder == 0 && outlook == 0 &&
                StoreRoot().Folders().Item(u"Kivara"_s).Folders().Item(u"Calls"_s));
    }

    void aMissingStoreIsReportedOnce()
    {
        // Every tick finds the store missing; the notice comes once. A mailbox that has gone: the personal
        // store is offered once, and "No" sticks.
        const QString gone = u"The '%1' information service is no longer present in the profile.\r\r"_s;
        for (const auto& [service, then] :
             {std::pair{u"Gone Store"_s, u"Please reinstall the service, or update your Outlook profile."_s},
              {u"Mailbox - Ann"_s,
               u"Would you like to set the default location to 'Personal Folders' ?"_s}}) {
            m_desk.rules(u"msgbox .* => No\n"_s);
            WriteSetting(settings::Service, service);
            Counter counter(nullptr, QuietIntervalMs);
            counter.Refresh();
            counter.Refresh();
            QCOMPARE(Label(counter, 1)->text(), u"No new messages"_s);
            QVERIFY(!counter.messagesFolder());
            QCOMPARE(m_desk.promptTexts(), QStringList{gone.arg(service) + then});
        }
    }

    void aRenamedFolderShowsTheNewNameAndCountsTheOld()
    {
        const MAPIFolder messages = MakeFolders();
        AddMessages(messages, {false, true}); // the read one is not counted
        AddMessages(MakeFolders(u"Voice"_s), {false, false});
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
        MakeFolders();
        // The host's window, showing the store's Inbox.
        const std::shared_ptr<Explorer> window = m_side->GetExplorer(StoreRoot().Folders().Item(u"Inbox"_s));
        window->Display();
        Counter counter(nullptr, QuietIntervalMs);
        counter.show();
        const auto [folder, count, title] =
            std::array{Label(counter, 0), Label(counter, 1), Label(counter, 2)};
        QLabel* icon = counter.findChild<QLabel*>(u"imgMain"_s);
        // Each step, with the host's window back at the Inbox: where the pointer moves (the counter itself
        // is the background), what is then clicked, which of folder, count and title are underlined and
        // the folder the window shows. Without the pointer having underlined them, clicks do nothing;
        // the background takes the underlines away; the icon needs none.
        const struct {
            QWidget* over;
            QLabel* clicked;
            QString shown;
        } steps[] = {
            {nullptr, folder, u"000 Inbox"_s},   {nullptr, title, u"000 Inbox"_s},
            {count, count, u"000 Inbox"_s},      {folder, nullptr, u"100 Inbox"_s},
            {title, nullptr, u"101 Inbox"_s},    {&counter, title, u"000 Inbox"_s},
            {title, title, u"001 Messages"_s},   {folder, folder, u"101 Messages"_s},
            {&counter, icon, u"000 Messages"_s},
        };
        for (const auto& step : steps) {
            window->setCurrentFolder(StoreRoot().Folders().Item(u"Inbox"_s));
            if (step.over)
                Send(step.over, QEvent::MouseMove,
                     step.over == &counter ? QPoint(1, counter.height() - 1) : QPoint(2, 2));
            for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                if (step.clicked) Send(step.clicked, type, {2, 2}, Qt::LeftButton);
            QString shown;
            for (const QLabel* label : {folder, count, title})
                shown += label->font().underline() ? u'1' : u'0';
            QCOMPARE(shown + u' ' + window->CurrentFolder().Name(), step.shown);
        }
    }
};

KV_TEST_MAIN(TestCounter)
#include "tst_counter.moc"
