#pragma once
// A party at the protocol level for the chat-control and monitor suites: plain
// datagram sockets on its own loopback address, one on the chat port, one on
// the monitor port.
#include "Platform/Events.h"
#include "Shared/Protocol.h"

#include <QHostAddress>
#include <QUdpSocket>
#include <tuple>

namespace kv::test {

class CallPeer {
public:
    explicit CallPeer(const QString& ip, int waitMs = 5000) : m_ip(ip), m_waitMs(waitMs)
    {
        for (auto [socket, port, inbox] : {std::tuple{&m_chat, ChatDatagramPort, &m_chatIn},
                                           std::tuple{&m_monitor, MonitorDatagramPort, &m_monitorIn}}) {
            ok = socket->bind(QHostAddress(ip), quint16(port)) && ok;
            // Init-captures: clang before 16 (clang-tidy) cannot capture structured bindings.
            QObject::connect(socket, &QUdpSocket::readyRead, socket, [socket = socket, inbox = inbox] {
                while (socket->hasPendingDatagrams()) {
                    QByteArray d(int(socket->pendingDatagramSize()), '\0');
                    socket->readDatagram(d.data(), d.size());
                    inbox->append(d);
                }
            });
        }
    }
    QString ip() const { return m_ip; }
    // The next message at that port, unframed; "<none>" when none came in time,
    // "<plain>" + text when it was not scrambled.
    QString next(int port = ChatDatagramPort)
    {
        QList<QByteArray>& inbox = port == ChatDatagramPort ? m_chatIn : m_monitorIn;
        if (!platform::WaitUntil([&] { return !inbox.isEmpty(); }, m_waitMs)) return QStringLiteral("<none>");
        const QByteArray d = inbox.takeFirst();
        return IsScrambledDatagram(d) ? UnframeDatagram(d)
                                      : QStringLiteral("<plain>") + QString::fromLatin1(d);
    }
    // The next count messages at that port, each as next() gives it.
    QStringList take(qsizetype count, int port = ChatDatagramPort)
    {
        QStringList got;
        while (count-- > 0)
            got << next(port);
        return got;
    }
    // Every message at the chat port once at least count have come.
    QStringList gather(qsizetype count)
    {
        platform::WaitUntil([&] { return m_chatIn.size() >= count; }, m_waitMs);
        return drain();
    }
    // How many messages wait at that port.
    qsizetype waiting(int port = ChatDatagramPort) const
    {
        return (port == ChatDatagramPort ? m_chatIn : m_monitorIn).size();
    }
    // Every message that has come so far at that port.
    QStringList drain(int port = ChatDatagramPort)
    {
        QList<QByteArray>& inbox = port == ChatDatagramPort ? m_chatIn : m_monitorIn;
        QStringList all;
        for (const QByteArray& d : inbox)
            all << UnframeDatagram(d);
        inbox.clear();
        return all;
    }
    // Whether the message comes at the chat port in time; what comes before it is dropped.
    bool heard(const QString& message)
    {
        QStringList got;
        return platform::WaitUntil(
            [&] {
                got += drain();
                return got.contains(message);
            },
            m_waitMs);
    }
    bool quiet(int ms = 300)
    {
        platform::WaitUntil([] { return false; }, ms);
        return m_chatIn.isEmpty() && m_monitorIn.isEmpty();
    }
    void sendTo(const QString& host, const QString& text)
    {
        m_chat.writeDatagram(FrameDatagram(text), QHostAddress(host), quint16(ChatDatagramPort));
    }
    // To a computer's monitor, as a caller does.
    void sendToMonitor(const QString& host, const QString& text, bool scrambled = true)
    {
        m_chat.writeDatagram(scrambled ? FrameDatagram(text) : PlainDatagram(text), QHostAddress(host),
                             quint16(MonitorDatagramPort));
    }
    void sendRaw(const QString& host, const QByteArray& datagram)
    {
        m_chat.writeDatagram(datagram, QHostAddress(host), quint16(ChatDatagramPort));
    }
    bool ok = true;

private:
    QString m_ip;
    int m_waitMs;
    QUdpSocket m_chat;
    QUdpSocket m_monitor;
    QList<QByteArray> m_chatIn;
    QList<QByteArray> m_monitorIn;
};

// A party's record as the suites make it: <name>@example.org, a note, KV-<NAME>.
inline UserRecord PartyRecord(const QString& name, const QString& ip,
                              const QString& availability = QStringLiteral("Available"),
                              const QString& icon = QStringLiteral("3"))
{
    return UserRecord{name,
                      availability,
                      name.toLower() + QStringLiteral("@example.org"),
                      ip,
                      QStringLiteral("note of ") + name,
                      QStringLiteral("KV-") + name.toUpper(),
                      QString(),
                      icon};
}

// PRICHAT fields as the other party sends them: its record, its colour, the line.
inline QStringList PriChatFields(const UserRecord& r, const QString& line = QStringLiteral("OPENPRI"),
                                 const QString& colour = QStringLiteral("255"))
{
    return QStringList{QStringLiteral("PRICHAT")} + r.fields() + QStringList{colour, line};
}

} // namespace kv::test
