#pragma once
// The list of received files, and of transfers that failed with the reason,
// kept in the user's data folder so a file can be found again after its notice
// is gone. One JSON object per line, the newest last; a line that cannot be read
// is skipped, so a damaged or cut-off list still yields its sound entries.
#include <QDateTime>
#include <QList>
#include <QString>

namespace kv::dorvan {

// Why a transfer failed, as the list and the receiving window say it.
namespace failure {
inline constexpr QStringView ConnectionRefused =
    u"The sender's file port refused the connection or could not be reached.";
inline constexpr QStringView SenderCancelled = u"The sender cancelled before the whole file arrived.";
inline constexpr QStringView DiskFull = u"The disk is full: the file could not be written.";
inline constexpr QStringView WriteFailed = u"The file could not be written: ";
inline constexpr QStringView NameRefused =
    u"The file name was refused: it is unsafe or could not be created.";
inline constexpr QStringView Overrun = u"The sender sent more than the size it offered.";
inline constexpr QStringView CancelledHere = u"You cancelled the transfer.";
} // namespace failure

// Entries kept: adding one beyond this drops the oldest.
inline constexpr int MaxReceivedFiles = 500;

struct ReceivedFile {
    QString name; // the file's name as offered
    QString sender;
    QDateTime time;  // when the transfer ended
    qint32 size = 0; // the size offered, in bytes
    QString path;    // where it was saved; empty when it failed
    QString failure; // why it failed; empty when it was saved

    bool operator==(const ReceivedFile&) const = default;
};

// $XDG_DATA_HOME/kivara/received-files.jsonl
QString ReceivedFilesPath();

// The entries, newest first.
QList<ReceivedFile> ReadReceivedFiles(const QString& path = ReceivedFilesPath());

// Adds an entry and rewrites the list in one step, the oldest beyond
// MaxReceivedFiles dropped; several receiving windows at once wait for each other.
bool AddReceivedFile(const ReceivedFile& entry, const QString& path = ReceivedFilesPath());

} // namespace kv::dorvan
