// The Peerslip handed out by e-mail: the invitation text, the mail shown to
// the user with the Peerslip attached, and the signature file kept up to date
// whenever the profile is saved.
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "Shared/PeerslipMail.h"
#include "Shared/StoreAccess.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;
using kv::test::FileBytes;
using namespace kv;
using namespace kv::outlook;

namespace {

ProfileRecord annProfile()
{
    ProfileRecord p;
    p.FullName = u"Ann Smith"_s;
    p.ChatName = u"Ann"_s;
    p.UserStatus = u"Available"_s;
    p.IPAddress = u"127.0.0.2"_s;
    p.SerialNum = u"KV-A"_s;
    return p;
}

} // namespace

class TestPeerslipMail : public kv::test::HeadlessCase {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        startCase();
        QCOMPARE(SaveProfile(annProfile(), QString()), 0);
    }
    void cleanup() { endCase(); }

    void invitationText()
    {
        const QString tail = QString(53, u'=') +
                             u"\r\nOpen the attached Peerslip below to add it to your Kivara Contacts."
                             u"\r\nKivara for Microsoft Outlook\u00AE: "_s +
                             ProductWebAddress.toString() + u"\r\n"_s;
        QCOMPARE(PeerslipMailBody(MailBodyBreaks), u"\r\r\r\r\r"_s + tail);
        QCOMPARE(PeerslipMailBody(SignatureBodyBreaks), u"\r\r"_s + tail);
        QVERIFY(!tail.contains(u"\r\r"_s));
    }

    void mailShowsTheInvitationWithThePeerslip()
    {
        StoreAccess access(Deliverable::Vigilo);
        QCOMPARE(MailPeerslip(access, u"bob@example.com"_s), 0);
        QCOMPARE(m_desk.prompt->log().size(), 0);
        const auto inspectors = m_side->openInspectors();
        QCOMPARE(inspectors.size(), 1);
        QVERIFY(inspectors.first()->IsDisplayed());
        const Item mail = inspectors.first()->CurrentItem();
        QCOMPARE(mail.MessageClass(), u"IPM.Note"_s);
        QCOMPARE(mail.Body(), PeerslipMailBody(5));
        QVERIFY(!mail.Saved()); // for the user to complete and send

        QCOMPARE(mail.Recipients().Count(), 1);
        QCOMPARE(mail.Recipients().Item(1).Name(), u"bob@example.com"_s);
        QVERIFY(mail.Recipients().Item(1).Resolved());

        QCOMPARE(mail.Attachments().Count(), 1);
        const Attachment slip = mail.Attachments().Item(1);
        QCOMPARE(slip.DisplayName(), u"Ann's Peerslip"_s);
        QCOMPARE(slip.FileName(), u"Ann.kvp"_s);
        QCOMPARE(slip.Position(), 1024);
        QCOMPARE(slip.Type(), int(olByValue));
        QCOMPARE(slip.Data(), FileBytes(m_computer->installDir() + u"Ann.kvp"_s));
    }

    // An address that does not resolve, or none (the monitor's option bar), still shows the mail;
    // without the Peerslip file it goes without an attachment.
    void mailToAnUnresolvedOrNoAddress()
    {
        QVERIFY(QFile::remove(m_computer->installDir() + u"Ann.kvp"_s));
        StoreAccess access(Deliverable::Quillon);
        QCOMPARE(MailPeerslip(access, u"Nobody Known"_s), 0);
        QCOMPARE(MailPeerslip(access, QString()), 0);
        QCOMPARE(m_side->openInspectors().size(), 2);
        const Item unresolved = m_side->openInspectors().first()->CurrentItem();
        QCOMPARE(unresolved.Recipients().Count(), 1);
        QVERIFY(!unresolved.Recipients().Item(1).Resolved());
        QCOMPARE(unresolved.Attachments().Count(), 0);
        QCOMPARE(m_side->openInspectors().last()->CurrentItem().Recipients().Count(), 0);
        QCOMPARE(m_desk.prompt->log().size(), 0);
    }

    // No host and none can be started: the mail is reported, the signature stays as it was.
    void withoutOutlook()
    {
        const QByteArray signature = FileBytes(SignatureFilePath());
        m_side->setRunning(false);
        m_side->setStartable(false);
        StoreAccess quillon(Deliverable::Quillon);
        RefreshSignature(quillon);
        QCOMPARE(FileBytes(SignatureFilePath()), signature);
        QCOMPARE(m_desk.prompt->log().size(), 0);
        StoreAccess access(Deliverable::Vigilo);
        QCOMPARE(MailPeerslip(access, u"bob@example.com"_s), -1);
        QCOMPARE(m_desk.prompt->log().size(), 1);
        const platform::PromptLogEntry& e = m_desk.prompt->log().first();
        QCOMPARE(e.text, u"Cannot create new Mail message."_s);
        QCOMPARE(e.icon, u"Information"_s);
        QCOMPARE(e.title, u"Kivara for Microsoft Outlook"_s);
        QVERIFY(m_side->openInspectors().isEmpty());
    }

    void signatureCarriesTheInvitationAndPeerslip()
    {
        const QString path = SignatureFilePath();
        QCOMPARE(path, qEnvironmentVariable("XDG_DATA_HOME") +
                           u"/kivara/Application Data/Microsoft/Shared/Signatures/Kivara.rtf"_s);
        QCOMPARE(QFileInfo(path).absolutePath(), SignaturesFolder()); // where the mail host reads it
        const QByteArray rtf = FileBytes(path);
        QVERIFY(rtf.startsWith("{\\rtf1"));
        QVERIFY(rtf.trimmed().endsWith('}'));
        QVERIFY(rtf.contains("Open the attached Peerslip below to add it to your Kivara Contacts."));
        QVERIFY(rtf.contains("Kivara for Microsoft Outlook\\'ae: "));
        QVERIFY(rtf.contains(QByteArray(53, '=')));
        // The Peerslip stands after the text, under its name (its bytes: tst_profile's rename case).
        QVERIFY(rtf.indexOf("{\\*\\kvattachment") > rtf.indexOf("Outlook\\'ae"));
        QVERIFY(rtf.contains("{\\*\\kvdisplayname Ann's Peerslip}"));
        QCOMPARE(rtf.count('{'), rtf.count('}'));
        // The item was discarded: nothing is left open or stored.
        QVERIFY(m_side->openInspectors().isEmpty());
        QCOMPARE(m_desk.prompt->log().size(), 0);
    }
};

KV_TEST_MAIN(TestPeerslipMail)
#include "tst_peerslipmail.moc"
