#pragma once
// The sending side of a file transfer: the offer's file, the socket pool
// wskFile (element 0 listens on the file port, one element per accepted
// receiver), the byte stream, progress, completion, cancel and errors. The
// control shows what this reports through the signals below.
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace kv::platform {
class Socket;
}

namespace kv::control {

namespace sendtext {
inline constexpr QStringView SendingProgress = u"Sending file...";
inline constexpr QStringView Remaining = u"% remaining";
inline constexpr QStringView SentOk = u"File successfully sent.";
inline constexpr QStringView TransferError = u"A file transfer error has occured.";
inline constexpr QStringView TransferErrorPanel = u"File transfer error";
inline constexpr QStringView CancelQuestion = u"Cancel file transfer ?";
inline constexpr QStringView Cancelled = u"File transfer cancelled.";
inline constexpr QStringView CancelledBy = u"The file transfer was cancelled by ";
inline constexpr QStringView SendToSelf = u"You cannot send a file to yourself.";
inline constexpr QStringView NoFolders =
    u"Cannot send folders.  Please select the files you wish to send, and try again.";
inline constexpr QStringView CannotRead = u"The file cannot be sent:";
inline constexpr QStringView TooLarge = u"The file is too large to send.  Files up to 2047 MB can be sent.";
// One offer waits at a time: the receiver's connection carries no file name, so
// a second pending offer could hand it the wrong file.
inline constexpr QStringView OfferExpired = u"Nobody fetched %1: the offer has expired.";
inline constexpr QStringView OfferWaiting =
    u"Another file offer is still waiting to be accepted.  Please wait for it, or cancel it, and try again.";
} // namespace sendtext

// The file is read and handed to the connection in segments; no more than
// SendQueueBytes wait in the connection at any time. One segment: the next is
// read only once the last has gone out, into the same buffer, as a plain copy
// loop does; a deeper queue lets the bytes fall out of the processor's cache
// before they are sent, which cost more than the queue saves.
inline constexpr qint64 SendSegmentBytes = qint64(1) << 20;
inline constexpr qint64 SendQueueBytes = qint64(1) << 20;

// What an offer announces.
struct OfferedFile {
    QString path;
    QString title;
    qint32 size = 0;
};

class FileSend : public QObject {
    Q_OBJECT
public:
    // An offer that no connection takes within offerLifetimeMs is withdrawn.
    explicit FileSend(int offerLifetimeMs, QObject* parent = nullptr);
    ~FileSend() override;

    // Element 0 starts listening on the file port. 0 or the socket's error number.
    int Listen();
    // Closes every element, the listener included, and forgets the offer.
    void Close();

    // Reads the file's size and makes it the pending offer, to be handed only
    // to a connection from recipientAddress. A file that cannot be read, is too
    // large for the offer, or comes while another offer is still pending is
    // refused with a message; nothing is remembered.
    std::optional<OfferedFile> Offer(const QString& path, const QString& recipientAddress);
    // The offer could not be sent: no connection may take it.
    void Withdraw();
    bool offerPending() const { return m_pending.has_value(); }
    // Transfers connected and not yet ended.
    int activeTransfers() const;
    // An offer waits or a transfer runs: there is something to cancel.
    bool busy() const { return offerPending() || activeTransfers() > 0; }

    // The sender's cancel after its question: the newest transfer's connection
    // is closed (the receiver sees the close), and a pending offer is withdrawn.
    void Cancel();
    // A NOFILE notice from the receiver (called by the inbound dispatcher).
    void OnNoFile(const QString& senderName);

    // Elements of the pool, element 0 being the listener.
    int elementCount() const { return static_cast<int>(m_pool.size()); }
    platform::Socket* element(int index) const;

Q_SIGNALS:
    // Text for the room panel of the status bar.
    void statusText(const QString& text);
    void cancelButtonVisible(bool visible);
    // The room panel shows the room's name again.
    void roomNameRestored();
    // The pending offer is gone (taken, declined, withdrawn or expired): the next may go.
    void offerEnded();

private:
    struct Element;
    void onConnectionRequest(int requestId);
    void pump(Element& e);
    void onProgress(Element* e, qint64 bytesSent);
    void onClosed(Element* e);
    void onError(Element* e, int number, const QString& description);
    void fail(Element* e, int number, const QString& description);
    void complete(Element& e);
    void destroy(Element* e);
    void renumber();
    void expire();

    std::vector<std::unique_ptr<Element>> m_pool;
    std::optional<OfferedFile> m_pending;
    QString m_pendingAddress;
    QTimer m_offerTimer;
    QString m_lastStatus;
};

} // namespace kv::control
