// The Peerslip reader: each input is the content of a ".kvp" file. What reads
// must write back to the same record, and its chat name must make a file name
// that stays in the installation folder.
#include "fuzz/FuzzSupport.h"

#include "Shared/modUser.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace kv;

namespace {

QString SlipPath()
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(u"input.kvp"_s);
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile f(SlipPath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            fuzz::Fail(u"the input could not be written"_s);
    }
    const std::optional<ProfileRecord> read = ReadPeerslipFile(SlipPath());
    // The file reader is the record parser over the first record.
    if (read != DecodePeerslip(bytes.left(PeerslipRecordSize)))
        fuzz::Fail(u"the file reader and the record parser disagree"_s);
    if (!read) return 0;

    const std::optional<QByteArray> written = EncodePeerslip(*read);
    if (!written) fuzz::Fail(u"a record that was read does not fit a Peerslip"_s);
    if (DecodePeerslip(*written) != read) fuzz::Fail(u"a record does not read back as written"_s);

    const QString name = PeerslipFileName(read->ChatName);
    for (const QChar c : name)
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            fuzz::Fail(u"chat name \"%1\" makes the file name \"%2\""_s.arg(read->ChatName, name));
    return 0;
}
