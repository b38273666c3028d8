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

class TestPeerslipMail : public kv::test::HeadlessCase {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        startCase();
        const QString none;
        const ProfileRecord ann({u"Ann Smith"_s, none, none, none, none, none, none, u"Ann"_s, u"Available"_s,
                                 u"127.0.0.2"_s, DefaultLocalPort, u"KV-A"_s, none});
        QCOMPARE(SaveProfile(ann, QString()), 0);
    }
    void cleanup() { endCase(); }

    void signatureAndMailCarryTheInvitationAndPeerslip()
    {
        const QString tail = QString(53, u'=') +
                             u"\r\nOpen the attached Peerslip below to add it to your Kivara Contacts."
                             u"\r\nKivara for Microsoft Outlook\u00AE: "_s +
                             ProductWebAddress.toString() + u"\r\n"_s;
        QCOMPARE(PeerslipMailBody(MailBodyBreaks), u"\r\r\r\r\r"_s + tail);
        QCOMPARE(PeerslipMailBody(SignatureBodyBreaks), u"\r\r"_s + tail);
        QVERIFY(!tail.contains(u"\r\r"_s));

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

        // The mail shows the invitation with the Peerslip. An address that does not resolve, or none (the
        // monitor's option bar), still shows the mail; without the Peerslip file it goes without an
        // attachment.
        StoreAccess access(Deliverable::Vigilo);
        QCOMPARE(MailPeerslip(access, u"bob@example.com"_s), 0);
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

        QVERIFY(QFile::remove(m_computer->installDir() + u"Ann.kvp"_s));
        StoreAccess quillon(Deliverable::Quillon);
        QCOMPARE(MailPeerslip(quillon, u"Nobody Known"_s), 0);
        QCOMPARE(MailPeerslip(quillon, QString()), 0);
        QCOMPARE(m_side->openInspectors().size(), 3);
        const Item unresolved = m_side->openInspectors().at(1)->CurrentItem();
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
        QCOMPARE((QStringList{e.text, e.icon, e.title}),
                 (QStringList{u"Cannot create new Mail message."_s, u"Information"_s,
                              u"Kivara for Microsoft Outlook"_s}));
        QVERIFY(m_side->openInspectors().isEmpty());
    }
};

KV_TEST_MAIN(TestPeerslipMail)
#include "tst_peerslipmail.moc"
