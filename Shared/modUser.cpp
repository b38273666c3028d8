#include "Shared/modUser.h"

#include "Platform/Ansi.h"
#include "Platform/Prompt.h"
#include "Shared/Log.h"
#include "Shared/PeerslipMail.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace kv {

namespace {

QString num(qint64 n) { return QString::number(n); }

// Integer text as stored in the registry; out-of-range or malformed text reads as 0.
template <typename T> T toInt(const QString& text)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
        return 0;
    return static_cast<T>(v);
}

class Writer {
public:
    void str(const QString& s)
    {
        const QByteArray bytes = platform::ToAnsi(s);
        u16(static_cast<quint16>(qMin<qsizetype>(bytes.size(), 0xFFFF)));
        m_out += bytes.left(0xFFFF);
    }
    void u16(quint16 v) { put(qToLittleEndian(v)); }
    void i16(qint16 v) { put(qToLittleEndian(v)); }
    void i32(qint32 v) { put(qToLittleEndian(v)); }
    const QByteArray& bytes() const { return m_out; }

private:
    template <typename T> void put(T v) { m_out.append(reinterpret_cast<const char*>(&v), sizeof v); }
    QByteArray m_out;
};

class Reader {
public:
    explicit Reader(const QByteArray& in) : m_in(in) {}
    bool ok() const { return m_ok; }
    QString str()
    {
        const quint16 len = get<quint16>();
        if (!m_ok || m_pos + len > m_in.size()) {
            m_ok = false;
            return {};
        }
        const QString s = platform::FromAnsi(QByteArrayView(m_in.constData() + m_pos, len));
        m_pos += len;
        return s;
    }
    template <typename T> T get()
    {
        if (!m_ok || m_pos + qsizetype(sizeof(T)) > m_in.size()) {
            m_ok = false;
            return 0;
        }
        const T v = qFromLittleEndian<T>(m_in.constData() + m_pos);
        m_pos += sizeof(T);
        return v;
    }

private:
    const QByteArray& m_in;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

} // namespace

bool LoadProfile(Deliverable who, ProfileRecord& p)
{
    using namespace settings;
    p.FullName = ReadSetting(who, FullName);
    p.Company = ReadSetting(who, Company);
    p.Email = ReadSetting(who, Email);
    p.City = ReadSetting(who, City);
    p.State = ReadSetting(who, State);
    p.Country = ReadSetting(who, Country);
    p.Comment = ReadSetting(who, Comment);
    p.ChatName = ReadSetting(who, ChatName);
    p.UserStatus = ReadSetting(who, UserStatus);
    p.IPAddress = ReadSetting(who, IPAddress);
    p.LocalPort = toInt<qint32>(ReadSetting(who, LocalPort));
    p.SerialNum = ReadSetting(who, ProfileSerialNum);
    p.Reserved.clear();
    p.ChatType = toInt<qint16>(ReadSetting(who, ChatType));
    p.PrivateInfo = toInt<qint16>(ReadSetting(who, PrivateInfo));
    return p.ChatName.isEmpty();
}

namespace {
// The typed fields of the last profile found too long: an availability change
// saves the profile again, and the user is told once, not each time.
QString g_toldTooLong;
} // namespace

int SaveProfile(const ProfileRecord& p, const QString& previousChatName, StoreAccess* access)
{
    // A profile without a chat name would blank the name and write a Peerslip called ".kvp".
    if (p.ChatName.trimmed().isEmpty())
        return -1;
    using namespace settings;
    WriteSetting(FullName, p.FullName);
    WriteSetting(Company, p.Company);
    WriteSetting(Email, p.Email);
    WriteSetting(City, p.City);
    WriteSetting(State, p.State);
    WriteSetting(Country, p.Country);
    WriteSetting(Comment, p.Comment);
    WriteSetting(ChatName, p.ChatName);
    WriteSetting(UserStatus, p.UserStatus);
    WriteSetting(IPAddress, p.IPAddress);
    WriteSetting(LocalPort, num(p.LocalPort));
    WriteSetting(ProfileSerialNum, p.SerialNum);
    WriteSetting(ChatType, num(p.ChatType));
    WriteSetting(PrivateInfo, num(p.PrivateInfo));

    const QString installDir = ReadSetting(Deliverable::Vigilo, settings::InstallDir);
    const ProfileRecord published = PublishedForm(p);
    if (!EncodePeerslip(published)) {
        const QString typed =
            QStringList{p.FullName, p.Company, p.Email, p.City, p.State, p.Country, p.Comment, p.ChatName}.join(
                QChar(0));
        if (typed != g_toldTooLong)
            platform::MsgBox(PeerslipTooLongText.toString(), platform::MsgButtons::OK,
                             platform::MsgIcon::Information);
        g_toldTooLong = typed;
        return -1;
    }
    g_toldTooLong.clear();
    // Without an installation folder the path would be relative: never into whatever folder we run in.
    QString why = NoInstallFolderText.toString();
    const QString path = PeerslipPath(p.ChatName);
    if (!installDir.isEmpty())
        QDir().mkpath(installDir);
    if (installDir.isEmpty() || !WritePeerslipFile(path, published, &why)) {
        platform::MsgBox(PeerslipNotWrittenText.toString() + path + u"'.\r\r"_s + why,
                         platform::MsgButtons::OK, platform::MsgIcon::Exclamation);
        return -1;
    }
    if (!previousChatName.isEmpty() && PeerslipFileName(previousChatName) != PeerslipFileName(p.ChatName))
        QFile::remove(PeerslipPath(previousChatName));
    if (access) {
        RefreshSignature(*access);
    } else {
        StoreAccess own(Deliverable::Vigilo);
        RefreshSignature(own);
    }
    return 0;
}

ProfileRecord PublishedForm(const ProfileRecord& p)
{
    if (p.PrivateInfo == 0)
        return p;
    ProfileRecord q;
    q.ChatName = p.ChatName;
    q.UserStatus = p.UserStatus;
    q.IPAddress = p.IPAddress;
    q.LocalPort = p.LocalPort;
    q.SerialNum = p.SerialNum;
    q.ChatType = p.ChatType;
    q.PrivateInfo = 0;
    return q;
}

QString ProfileFieldString(const ProfileRecord& p)
{
    const bool priv = p.PrivateInfo != 0;
    const QStringList fields = {
        priv ? QString() : p.FullName, priv ? QString() : p.Company, priv ? QString() : p.Email,
        priv ? QString() : p.City,     priv ? QString() : p.State,   priv ? QString() : p.Country,
        priv ? QString() : p.Comment,  p.ChatName,                   p.UserStatus,
        p.IPAddress,                   p.SerialNum,                  QString(),
        num(p.ChatType),               num(p.PrivateInfo)};
    return fields.join(u'|');
}

QString ShortProfileFieldString(const ProfileRecord& p)
{
    return QStringList{p.ChatName, p.UserStatus, p.Email,     p.IPAddress,
                       p.Comment,  p.SerialNum,  QString(), num(p.ChatType)}
        .join(u'|');
}

QString FieldHoldingSeparator(const ProfileRecord& p)
{
    const std::pair<const QString*, QStringView> typed[] = {
        {&p.FullName, u"Full Name"}, {&p.Company, u"Company"},   {&p.Email, u"E-mail"},
        {&p.City, u"City"},          {&p.State, u"State"},       {&p.Country, u"Country"},
        {&p.Comment, u"Comment"},    {&p.ChatName, u"Chat Name"}};
    for (const auto& [value, name] : typed)
        if (value->contains(u'|')) return name.toString();
    return QString();
}

QString SeparatorRefusalText(const QString& fieldName)
{
    static constexpr QStringView before = u"The ";
    static constexpr QStringView after =
        u" cannot contain the character \"|\".\r\rPlease remove it and try again.";
    return before.toString() + fieldName + after.toString();
}

std::optional<QByteArray> EncodePeerslip(const ProfileRecord& p)
{
    Writer w;
    for (const QString* s : {&p.FullName, &p.Company, &p.Email, &p.City, &p.State, &p.Country, &p.Comment,
                             &p.ChatName, &p.UserStatus, &p.IPAddress})
        w.str(*s);
    w.i32(p.LocalPort);
    w.str(p.SerialNum);
    w.str(QString()); // reserved
    w.i16(p.ChatType);
    w.i16(p.PrivateInfo);
    if (w.bytes().size() > PeerslipRecordSize)
        return std::nullopt;
    return w.bytes();
}

std::optional<ProfileRecord> DecodePeerslip(const QByteArray& bytes)
{
    if (bytes.size() > PeerslipRecordSize)
        return std::nullopt;
    Reader r(bytes);
    ProfileRecord p;
    for (QString* s : {&p.FullName, &p.Company, &p.Email, &p.City, &p.State, &p.Country, &p.Comment,
                       &p.ChatName, &p.UserStatus, &p.IPAddress})
        *s = r.str();
    p.LocalPort = r.get<qint32>();
    p.SerialNum = r.str();
    r.str(); // reserved: read past, not kept
    p.ChatType = r.get<qint16>();
    p.PrivateInfo = r.get<qint16>();
    if (!r.ok())
        return std::nullopt;
    return p;
}

bool WritePeerslipFile(const QString& path, const ProfileRecord& profile, QString* error)
{
    std::optional<QByteArray> bytes = EncodePeerslip(profile);
    if (!bytes)
        return false;
    bytes->resize(PeerslipRecordSize, '\0');
    // Written whole or not at all: a reader never sees half a Peerslip.
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(*bytes) == bytes->size() && f.commit())
        return true;
    if (error)
        *error = f.errorString();
    return false;
}

std::optional<ProfileRecord> ReadPeerslipFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        qCDebug(lcShared, "Peerslip %s not read: %s", qUtf8Printable(path), qUtf8Printable(f.errorString()));
        return std::nullopt;
    }
    // A record file: what follows the first record is not part of it.
    std::optional<ProfileRecord> record = DecodePeerslip(f.read(PeerslipRecordSize));
    if (!record) qCDebug(lcShared, "Peerslip %s not read: not a Peerslip record", qUtf8Printable(path));
    return record;
}

QString PeerslipFileName(const QString& chatName)
{
    QString name = chatName;
    for (QChar& c : name) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'_';
    }
    if (name == u"."_s || name == u".."_s)
        name.prepend(u'_');
    return name + PeerslipExtension.toString();
}

QString PeerslipPath(const QString& chatName)
{
    return ReadSetting(Deliverable::Vigilo, settings::InstallDir) + PeerslipFileName(chatName);
}

QString WriteTempPeerslip(const QStringList& fields)
{
    const auto field = [&](int i) { return i < fields.size() ? fields.at(i) : QString(); };
    ProfileRecord p;
    p.ChatName = field(1);
    p.UserStatus = field(2);
    p.Email = field(3);
    p.IPAddress = field(4);
    p.Comment = field(5);
    p.SerialNum = field(6);
    p.ChatType = toInt<qint16>(field(8));
    p.LocalPort = 0;

    const QString temp = MakeTempFileName(QString());
    if (temp.isEmpty())
        return {};
    // Cut at the first "." of the file name, not of the whole path: a folder may hold dots.
    const QFileInfo fi(temp);
    const QString path =
        fi.absolutePath() + u'/' + fi.fileName().section(u'.', 0, 0) + PeerslipExtension.toString();
    return WritePeerslipFile(path, p) ? path : QString();
}

} // namespace kv
