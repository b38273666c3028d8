#include "Shared/PeerslipMail.h"

#include "Platform/Prompt.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "Shared/modUser.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace kv {

using namespace outlook;

namespace {

const QString CRLF = u"\r\n"_s;

// The user's own Peerslip, attached by value with its display name. A missing
// file leaves the mail without attachment.
void attachPeerslip(const Item& mail, Deliverable who)
{
    const QString chatName = ReadSetting(who, settings::ChatName);
    mail.Attachments().Add(PeerslipPath(chatName), olByValue, PeerslipAttachmentPosition,
                           chatName + mailtext::PeerslipDisplaySuffix.toString());
}

} // namespace

QString PeerslipMailBody(int leadingBreaks)
{
    return QString(qMax(0, leadingBreaks), u'\r') + QString(SeparatorLength, u'=') + CRLF +
           mailtext::OpenAttached.toString() + CRLF + mailtext::ProductName.toString() +
           QChar(RegisteredSign) + u": "_s + ProductWebAddress.toString() + CRLF;
}

QString SignatureFilePath()
{
    return WindowsFolder() + u"/Application Data/Microsoft/Shared/Signatures/Kivara.rtf"_s;
}

int MailPeerslip(StoreAccess& access, const QString& address)
{
    access.GetOutlook();
    const Item mail = access.application().CreateItem(olMailItem);
    if (!mail) {
        platform::MsgBox(mailtext::CannotCreateMail.toString(), platform::MsgButtons::OK,
                         platform::MsgIcon::Information);
        return -1;
    }
    // From here on errors are ignored: an address that does not resolve is
    // still shown, for the user to correct.
    const Recipients recipients = mail.Recipients();
    recipients.Add(address);
    recipients.ResolveAll();
    mail.setBody(PeerslipMailBody(MailBodyBreaks));
    attachPeerslip(mail, access.who());
    mail.Display();
    return 0;
}

void RefreshSignature(StoreAccess& access)
{
    access.GetOutlook();
    const Item mail = access.application().CreateItem(olMailItem);
    if (!mail) return;
    mail.setBody(PeerslipMailBody(SignatureBodyBreaks));
    attachPeerslip(mail, access.who());
    const QString path = SignatureFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    mail.SaveAs(path, olRTF);
    mail.Close(olDiscard);
}

} // namespace kv
