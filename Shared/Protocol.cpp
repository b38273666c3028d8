#include "Shared/Protocol.h"

#include "Platform/Ansi.h"

using namespace Qt::StringLiterals;

namespace kv {

namespace {

// Joins a message name and its fields.
QString message(QLatin1StringView name, const QStringList& fields)
{
    QString text = name;
    for (const QString& f : fields) {
        text += FieldSeparator;
        text += f;
    }
    return text;
}

QString recordMessage(QLatin1StringView name, const UserRecord& record, const QStringList& more = {})
{
    return message(name, record.fields() + more);
}

void scrambleBytes(QByteArray& bytes, qsizetype from)
{
    const QString& key = DatagramKey();
    for (qsizetype i = from; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(static_cast<uchar>(bytes[i]) ^ key[(i - from) % DatagramKeyLength].unicode());
}

} // namespace

const QString& DatagramKey()
{
    // Appended one character at a time so that the key never sits whole in the program image.
    static const QString key = [] {
        QString k;
        k.reserve(DatagramKeyLength);
        k.append(QChar(0x6B));
        k.append(QChar(0x1D));
        k.append(QChar(0xC4));
        k.append(QChar(0x52));
        k.append(QChar(0x0E));
        k.append(QChar(0x97));
        k.append(QChar(0x3A));
        return k;
    }();
    return key;
}

QString ScrambleText(const QString& text)
{
    const QString& key = DatagramKey();
    QString out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = QChar(text[i].unicode() ^ key[i % DatagramKeyLength].unicode());
    return out;
}

QByteArray FrameDatagram(const QString& text)
{
    QByteArray bytes = platform::ToAnsi(text);
    bytes.prepend(ScrambledMark);
    scrambleBytes(bytes, 1);
    return bytes;
}

QByteArray PlainDatagram(const QString& text)
{
    return platform::ToAnsi(text);
}

bool IsScrambledDatagram(const QByteArray& datagram)
{
    return !datagram.isEmpty() && datagram.front() == ScrambledMark;
}

QString UnframeDatagram(const QByteArray& datagram)
{
    if (!IsScrambledDatagram(datagram))
        return platform::FromAnsi(datagram);
    QByteArray bytes = datagram.sliced(1);
    scrambleBytes(bytes, 0);
    return platform::FromAnsi(bytes);
}

QStringList ParseDatagram(const QString& text)
{
    return text.split(FieldSeparator, Qt::KeepEmptyParts);
}

QStringList ReadDatagram(const QByteArray& datagram)
{
    return ParseDatagram(UnframeDatagram(datagram));
}

QStringList UserRecord::fields() const
{
    return {chatName, availability, email, ipAddress, comment, serialNum, QString(), iconCode};
}

std::optional<UserRecord> UserRecord::fromFields(const QStringList& fields, qsizetype first)
{
    if (first < 0 || fields.size() - first < FieldCount)
        return std::nullopt;
    UserRecord r;
    r.chatName = fields[first];
    r.availability = fields[first + 1];
    r.email = fields[first + 2];
    r.ipAddress = fields[first + 3];
    r.comment = fields[first + 4];
    r.serialNum = fields[first + 5];
    r.reserved = fields[first + 6];
    r.iconCode = fields[first + 7];
    return r;
}

qsizetype RoomListEntryCount(const QStringList& fields)
{
    // The upper bound divided by 8 counts one entry too many when exactly 7 fields
    // of a last entry arrived; only entries present in full are read.
    const qsizetype upperBound = fields.size() - 1;
    if (upperBound < field::RoomListFirstEntry)
        return 0;
    return (upperBound - field::RoomListFirstEntry + 1) / UserRecord::FieldCount;
}

QList<UserRecord> RoomListEntries(const QStringList& fields)
{
    QList<UserRecord> entries;
    const qsizetype count = RoomListEntryCount(fields);
    entries.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        if (auto r = UserRecord::fromFields(fields, field::RoomListFirstEntry + i * UserRecord::FieldCount))
            entries.append(*r);
    return entries;
}

std::optional<QByteArray> MessagePeerslip(const QStringList& fields)
{
    if (fields.size() <= field::MessagePeerslip || fields[field::MessageHasPeerslip] != word::FlagOn)
        return std::nullopt;
    return platform::ToAnsi(fields.sliced(field::MessagePeerslip).join(FieldSeparator));
}

QString BuildHello(const UserRecord& caller) { return recordMessage(msg::Hello, caller); }
QString BuildHelloWait(const QString& chatName) { return message(msg::HelloWait, {chatName}); }
QString BuildGiveUp(const QString& chatName) { return message(msg::GiveUp, {chatName}); }
QString BuildDoneHello() { return QString(msg::DoneHello); }

QString BuildRoomList(const QList<UserRecord>& entries)
{
    QStringList fields{QString(word::PublicRoomTag)};
    for (const UserRecord& r : entries)
        fields += r.fields();
    return message(msg::RoomList, fields);
}

QString BuildEnter(const UserRecord& admitted) { return recordMessage(msg::Enter, admitted); }

QString BuildLeaveMsg(const QString& calleeName, bool takesMessages)
{
    return message(msg::LeaveMsg, {calleeName, QString(takesMessages ? word::FlagOn : word::FlagOff)});
}

QString BuildMessage(const UserRecord& writer, const QString& subject, const QString& text,
                     const std::optional<QByteArray>& peerslip)
{
    QStringList more{subject, text, QString(peerslip ? word::FlagOn : word::FlagOff)};
    if (peerslip)
        more.append(platform::FromAnsi(*peerslip));
    return recordMessage(msg::Message, writer, more);
}

QString BuildPubChat(const QString& chatName, qint32 color, const QString& line)
{
    return message(msg::PubChat, {chatName, QString::number(color), line});
}

QString BuildPriChat(const UserRecord& sender, qint32 color, const QString& line)
{
    return recordMessage(msg::PriChat, sender, {QString::number(color), line});
}

QString BuildStatus(const QString& chatName, const QString& availability)
{
    return message(msg::Status, {chatName, availability});
}

QString BuildNickName(const QString& oldName, const QString& newName)
{
    return message(msg::NickName, {oldName, newName});
}

QString BuildUpdate(const UserRecord& sender) { return recordMessage(msg::Update, sender); }

QString BuildGetUserSimple(const QString& requester, const QString& target, bool silent)
{
    return message(msg::GetUser,
                   {requester, QString(word::Simple), target, QString(silent ? word::Silent : word::Normal)});
}

QString BuildGetUserProfile(const QString& requester, const QString& target)
{
    return message(msg::GetUser, {requester, QString(word::Profile), target});
}

QString BuildSaveUser(const QString& peerslipFieldText) { return message(msg::SaveUser, {peerslipFieldText}); }
QString BuildShowUser(const QString& peerslipFieldText) { return message(msg::ShowUser, {peerslipFieldText}); }

QString BuildFilePrep(const QString& chatName, const QString& fileTitle, qint64 size, const QString& address)
{
    // A file's name may hold the separator; the offer must keep its field count.
    QString title = fileTitle;
    title.replace(FieldSeparator, u'_');
    return message(msg::FilePrep,
                   {chatName, title, QString::number(size), address, QString::number(FileTransferPort)});
}

QString BuildNoFile(const QString& chatName) { return message(msg::NoFile, {chatName}); }

QString BuildLeave(const QString& chatName, const QString& room) { return message(msg::Leave, {chatName, room}); }

QString BuildDumpUser(const QString& remover, const QString& removed)
{
    return message(msg::DumpUser, {remover, removed});
}

} // namespace kv
