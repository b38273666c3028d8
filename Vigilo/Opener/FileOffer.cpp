#include "Vigilo/Opener/FileOffer.h"

#include <QFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace kv::dorvan {

namespace {

const QString TextIncomplete = u"The offer is incomplete."_s;
const QString TextBadTitle = u"The file name cannot be used."_s;
const QString TextBadSize = u"The file size is not valid."_s;
const QString TextBadAddress = u"The sender's address is not valid."_s;

bool isUnsafeChar(QChar c)
{
    // Control characters, and format characters such as the direction
    // overrides that can disguise a name's extension.
    const QChar::Category cat = c.category();
    return cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Other_Surrogate ||
           c == QChar::ReplacementCharacter;
}

} // namespace

std::optional<QString> SafeFileTitle(const QString& title)
{
    const qsizetype cut = std::max(title.lastIndexOf(u'/'), title.lastIndexOf(u'\\'));
    QString name = title.mid(cut + 1);
    name.removeIf(isUnsafeChar);
    // No hidden or start-up file (".bashrc") is planted in the folder; "." and ".." go with the dots.
    const qsizetype start = std::find_if(name.cbegin(), name.cend(),
                                         [](QChar c) { return c != u'.' && !c.isSpace(); }) - name.cbegin();
    name = name.sliced(start).trimmed();
    if (name.isEmpty()) return std::nullopt;
    if (QFile::encodeName(name).size() > MaxFileTitleBytes) return std::nullopt;
    return name;
}

std::optional<qint32> ParseOfferSize(const QString& text)
{
    if (text.isEmpty() || text.size() > 10) return std::nullopt;
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value > std::numeric_limits<qint32>::max()) return std::nullopt;
    return static_cast<qint32>(value);
}

std::optional<QString> ParseSenderAddress(const QString& text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4) return std::nullopt;
    int octets[4] = {};
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 3 || (p.size() > 1 && p.front() == u'0')) return std::nullopt;
        int v = 0;
        for (QChar c : p) {
            if (c < u'0' || c > u'9') return std::nullopt;
            v = v * 10 + (c.unicode() - u'0');
        }
        if (v > 255) return std::nullopt;
        octets[i] = v;
    }
    // "This network", multicast, and the reserved block with the broadcast address.
    if (octets[0] == 0 || octets[0] >= 224) return std::nullopt;
    return parts.join(u'.');
}

OfferCheck CheckOffer(const QStringList& pieces)
{
    OfferCheck check;
    if (pieces.size() > piece::RemoteHost)
        check.addressUsable = ParseSenderAddress(pieces[piece::RemoteHost]).has_value();
    if (pieces.size() < piece::Count) {
        check.fault = OfferFault::Incomplete;
        return check;
    }
    const std::optional<QString> address = ParseSenderAddress(pieces[piece::RemoteHost]);
    if (!address) {
        check.fault = OfferFault::BadAddress;
        return check;
    }
    const std::optional<qint32> size = ParseOfferSize(pieces[piece::FileSize]);
    if (!size) {
        check.fault = OfferFault::BadSize;
        return check;
    }
    const std::optional<QString> title = SafeFileTitle(pieces[piece::FileTitle]);
    if (!title) {
        check.fault = OfferFault::BadTitle;
        return check;
    }
    check.offer.sender = pieces[piece::Sender];
    check.offer.fileTitle = *title;
    check.offer.fileSize = *size;
    check.offer.remoteHost = *address;
    check.offer.remotePort = pieces[piece::RemotePort];
    check.offer.ownName = pieces[piece::OwnName];
    return check;
}

QString OfferFaultText(OfferFault fault)
{
    switch (fault) {
    case OfferFault::None:
        return {};
    case OfferFault::Incomplete:
        return TextIncomplete;
    case OfferFault::BadTitle:
        return TextBadTitle;
    case OfferFault::BadSize:
        return TextBadSize;
    case OfferFault::BadAddress:
        return TextBadAddress;
    }
    return {};
}

} // namespace kv::dorvan
