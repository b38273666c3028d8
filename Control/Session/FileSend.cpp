#include "Control/Session/FileSend.h"

#include "Control/Session/Log.h"
#include "Platform/Prompt.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "Shared/modMisc.h"

#include <QFileInfo>
#include <QHostAddress>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace kv::control {

namespace {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::Socket;

constexpr QChar CR = u'\r';

// An address as a connection reports it, so that "127.0.0.3" and its other spellings compare equal.
QString NormalAddress(const QString& text)
{
    QHostAddress address;
    if (!address.setAddress(text.trimmed())) return text.trimmed();
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

// remaining ÷ size × 100, rounded half to even.
int PercentRemaining(qint64 remaining, qint64 size)
{
    if (size <= 0) return 0;
    return static_cast<int>(
        std::nearbyint(static_cast<double>(remaining) / static_cast<double>(size) * 100.0));
}

} // namespace

// One element of the pool. Element 0 listens; the others each carry one transfer.
struct FileSend::Element {
    Socket* socket = nullptr;
    QFile file;
    qint64 size = 0;
    qint64 queued = 0;  // handed to the connection
    qint64 flushed = 0; // reported sent by the connection
    QByteArray segment; // read into again once the connection has let go of it
    bool done = false;  // every byte went out, or the transfer ended otherwise
};

FileSend::FileSend(int offerLifetimeMs, QObject* parent) : QObject(parent)
{
    m_offerTimer.setSingleShot(true);
    m_offerTimer.setInterval(offerLifetimeMs);
    connect(&m_offerTimer, &QTimer::timeout, this, &FileSend::expire);
    auto listener = std::make_unique<Element>();
    listener->socket = new Socket(Socket::Protocol::Tcp, this);
    listener->done = true;
    connect(listener->socket, &Socket::ConnectionRequest, this, &FileSend::onConnectionRequest);
    m_pool.push_back(std::move(listener));
    renumber();
}

FileSend::~FileSend() = default;

platform::Socket* FileSend::element(int index) const
{
    return index >= 0 && index < elementCount() ? m_pool[static_cast<size_t>(index)]->socket : nullptr;
}

int FileSend::activeTransfers() const
{
    int n = 0;
    for (size_t i = 1; i < m_pool.size(); ++i)
        n += m_pool[i]->done ? 0 : 1;
    return n;
}

void FileSend::renumber()
{
    for (size_t i = 0; i < m_pool.size(); ++i)
        m_pool[i]->socket->setObjectName(u"wskFile_"_s + QString::number(i));
}

int FileSend::Listen()
{
    Socket* listener = m_pool.front()->socket;
    listener->Close();
    listener->setLocalPort(FileTransferPort);
    return listener->Listen();
}

void FileSend::Close()
{
    m_offerTimer.stop();
    m_pending.reset();
    while (m_pool.size() > 1)
        destroy(m_pool.back().get());
    m_pool.front()->socket->Close();
}

std::optional<OfferedFile> FileSend::Offer(const QString& path, const QString& recipientAddress)
{
    if (m_pending) {
        MsgBox(sendtext::OfferWaiting.toString(), MsgButtons::OK, MsgIcon::Information);
        return std::nullopt;
    }
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        MsgBox(sendtext::CannotRead.toString() + CR + CR + u"'"_s + path + u"'."_s +
                   (info.isDir() ? QString() : QString(CR) + CR + file.errorString()),
               MsgButtons::OK, MsgIcon::Information);
        return std::nullopt;
    }
    const qint64 size = file.size();
    file.close();
    // The offer carries a 32-bit signed size; a larger one would be refused by every receiver.
    if (size > std::numeric_limits<qint32>::max()) {
        MsgBox(sendtext::TooLarge.toString(), MsgButtons::OK, MsgIcon::Information);
        return std::nullopt;
    }
    OfferedFile offer{path, FileNameOfPath(path).trimmed(), static_cast<qint32>(size)};
    m_pending = offer;
    m_pendingAddress = NormalAddress(recipientAddress);
    m_offerTimer.start();
    return offer;
}

void FileSend::Withdraw()
{
    const bool wasPending = m_pending.has_value();
    m_pending.reset();
    m_pendingAddress.clear();
    m_offerTimer.stop();
    if (wasPending) Q_EMIT offerEnded();
}

void FileSend::expire()
{
    if (!m_pending) return;
    const QString title = m_pending->title;
    Withdraw();
    if (activeTransfers() == 0) Q_EMIT cancelButtonVisible(false);
    Q_EMIT statusText(sendtext::OfferExpired.toString().arg(title));
}

void FileSend::onConnectionRequest(int requestId)
{
    auto e = std::make_unique<Element>();
    e->socket = new Socket(Socket::Protocol::Tcp, this);
    if (e->socket->Accept(requestId) != 0) {
        e->socket->deleteLater();
        return;
    }
    // The file goes only to the party it was offered to, and only once: anyone
    // else, or a second connection, is closed at once without a byte.
    const QString from = NormalAddress(e->socket->RemoteHostIP());
    if (!m_pending || m_pendingAddress.isEmpty() || from != m_pendingAddress) {
        qCDebug(lcControl, "file connection from %s:%d refused: %s", qUtf8Printable(from),
                e->socket->RemotePort(),
                m_pending ? "the file is offered to another party" : "no file on offer");
        e->socket->Close();
        e->socket->deleteLater();
        return;
    }
    const OfferedFile offer = *m_pending;
    Withdraw();

    Element* el = e.get();
    m_pool.push_back(std::move(e));
    renumber();
    connect(el->socket, &Socket::SendProgress, this,
            [this, el](qint64 sent, qint64) { onProgress(el, sent); });
    connect(el->socket, &Socket::Closed, this, [this, el] { onClosed(el); });
    connect(el->socket, &Socket::Error, this,
            [this, el](int number, const QString& description) { onError(el, number, description); });

    el->size = offer.size;
    el->file.setFileName(offer.path);
    if (!el->file.open(QIODevice::ReadOnly)) {
        const QString reason = el->file.errorString();
        fail(el, 0, reason);
        return;
    }
    // Nothing to send for an empty file: the connection itself completes it.
    if (el->size == 0) {
        complete(*el);
        return;
    }
    pump(*el);
}

// Keeps up to SendQueueBytes waiting in the connection, never more than the offer announced.
void FileSend::pump(Element& e)
{
    while (!e.done && e.queued < e.size && e.queued - e.flushed < SendQueueBytes) {
        const qint64 want = std::min(SendSegmentBytes, e.size - e.queued);
        // The same buffer again, while the connection holds no share of it: the
        // bytes read are still in the processor's cache when they are sent.
        if (!e.segment.isDetached()) e.segment = QByteArray(want, Qt::Uninitialized);
        e.segment.resize(want);
        if (e.file.read(e.segment.data(), want) != want) {
            // The file shrank or could not be read while it was being sent.
            fail(&e, 0, e.file.errorString().isEmpty() ? e.file.fileName() : e.file.errorString());
            return;
        }
        if (const int number = e.socket->SendData(e.segment)) {
            fail(&e, number, Socket::ErrorDescription(number));
            return;
        }
        e.queued += want;
    }
    if (e.queued == e.size) e.file.close();
}

void FileSend::onProgress(Element* e, qint64 bytesSent)
{
    if (e->done) return;
    e->flushed += bytesSent;
    const QString text = sendtext::SendingProgress.toString() +
                         QString::number(PercentRemaining(e->size - e->flushed, e->size)) +
                         sendtext::Remaining.toString();
    if (text != m_lastStatus) {
        m_lastStatus = text;
        Q_EMIT statusText(text);
    }
    if (e->flushed >= e->size) {
        complete(*e);
        return;
    }
    pump(*e);
}

void FileSend::complete(Element& e)
{
    e.done = true;
    e.file.close();
    m_lastStatus.clear();
    // The connection stays until the receiver closes it, having stored every byte.
    MsgBox(sendtext::SentOk.toString(), MsgButtons::OK, MsgIcon::Information);
    Q_EMIT cancelButtonVisible(false);
    Q_EMIT roomNameRestored();
}

void FileSend::onClosed(Element* e)
{
    const bool interrupted = !e->done;
    destroy(e);
    if (interrupted) {
        // The receiver went away before the end; its NOFILE, when one comes, names the reason.
        Q_EMIT cancelButtonVisible(false);
        Q_EMIT statusText(sendtext::Cancelled.toString());
    }
}

void FileSend::onError(Element* e, int number, const QString& description)
{
    fail(e, number, description);
}

void FileSend::fail(Element* e, int number, const QString& description)
{
    destroy(e);
    MsgBox(sendtext::TransferError.toString() + CR + CR + QString::number(number) + u':' + description,
           MsgButtons::OK, MsgIcon::Information);
    Q_EMIT cancelButtonVisible(false);
    Q_EMIT statusText(sendtext::TransferErrorPanel.toString());
}

void FileSend::destroy(Element* e)
{
    for (size_t i = 1; i < m_pool.size(); ++i) {
        if (m_pool[i].get() != e) continue;
        std::unique_ptr<Element> gone = std::move(m_pool[i]);
        m_pool.erase(m_pool.begin() + static_cast<std::ptrdiff_t>(i));
        gone->done = true;
        gone->file.close();
        Socket* s = gone->socket;
        s->disconnect(this);
        s->Close(); // closed at once: the port and connection are released here
        s->deleteLater();
        renumber();
        m_lastStatus.clear();
        return;
    }
}

void FileSend::Cancel()
{
    Withdraw();
    for (size_t i = m_pool.size(); i-- > 1;) {
        if (!m_pool[i]->done) {
            destroy(m_pool[i].get());
            return;
        }
    }
}

void FileSend::OnNoFile(const QString& senderName)
{
    Withdraw();
    for (size_t i = m_pool.size(); i-- > 1;)
        if (!m_pool[i]->done) destroy(m_pool[i].get());
    Q_EMIT roomNameRestored();
    Q_EMIT cancelButtonVisible(false);
    MsgBox(sendtext::CancelledBy.toString() + senderName + u"."_s, MsgButtons::OK, MsgIcon::Information);
}

} // namespace kv::control
