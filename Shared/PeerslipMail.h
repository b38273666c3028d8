#pragma once
// The user's Peerslip handed out by e-mail: a new mail with the Peerslip
// attached, and the e-mail signature that carries it in every mail.
#include <QString>

namespace kv {

class StoreAccess;

// The product's web address, named in the invitation's last line.
inline constexpr QStringView ProductWebAddress = u"http://www.kivara.com";

namespace mailtext {
inline constexpr QStringView CannotCreateMail = u"Cannot create new Mail message.";
inline constexpr QStringView OpenAttached =
    u"Open the attached Peerslip below to add it to your Kivara Contacts.";
inline constexpr QStringView ProductName = u"Kivara for Microsoft Outlook";
inline constexpr QStringView PeerslipDisplaySuffix = u"'s Peerslip";
} // namespace mailtext

// Leading carriage returns of the invitation: a mail leaves room to write above it.
inline constexpr int MailBodyBreaks = 5;
inline constexpr int SignatureBodyBreaks = 2;
inline constexpr int SeparatorLength = 53;
// The registered sign, character 174 of the ANSI code page.
inline constexpr char16_t RegisteredSign = 0x00AE;
// Where the Peerslip stands in the body: past its end, after the text.
inline constexpr int PeerslipAttachmentPosition = 1024;

// The invitation: the carriage returns, 53 "=", then the two lines, each
// introduced and the last one ended by CR LF.
QString PeerslipMailBody(int leadingBreaks);

// The signature file: WindowsFolder() + "/Application Data/Microsoft/Shared/
// Signatures/Kivara.rtf". The host program reads signatures from here.
QString SignatureFilePath();

// Opens a new mail to the address with the user's own Peerslip attached and
// displays it for the user to complete. -1 when no mail item could be created.
int MailPeerslip(StoreAccess& access, const QString& address);

// Rewrites the signature file as rich text: the invitation with the user's own Peerslip.
void RefreshSignature(StoreAccess& access);

} // namespace kv
