#pragma once
// The offering side of a file transfer, played at the protocol level: a plain
// listener on TCP 8087 and a datagram socket on UDP 8086 of one loopback
// address, as the sender's chat control would hold them.
#include "Platform/Events.h"
#include "Platform/ScriptedPrompt.h"
#include "Platform/Shell.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "testing/SimComputer.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <deque>

namespace kv::test {

inline constexpr int TransferWaitMs = 60000;

// Performs the product set-up in another computer's registry, with extra settings.
inline void SetUpComputer(const SimComputer& computer, const QList<std::pair<SettingSpec, QString>>& values)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", computer.environment().value(QStringLiteral("XDG_CONFIG_HOME")).toLocal8Bit());
    WriteKeyValue(RegRoot::LocalMachine, NameServerKey.toString(), NameServerValue.toString(), QStringLiteral("127.0.0.1"));
    WriteSetting(settings::InstallDir, computer.installDir());
    WriteSetting(settings::SerialNum, computer.serialNum());
    for (const auto& [spec, value] : values)
        WriteSetting(spec, value);
    qputenv("XDG_CONFIG_HOME", saved);
}

// Starts dorvan with one argument. endsWell pumps events (the sender may live in this
// process) until dorvan ends, and tells whether it ended by itself with exit code 0.
class DorvanChild : public QProcess {
public:
    DorvanChild(const QProcessEnvironment& env, const QString& argument)
    {
        setProcessEnvironment(env);
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start(qEnvironmentVariable("KIVARA_BIN_DIR") + QStringLiteral("/dorvan"), {argument});
    }
    ~DorvanChild() override
    {
        kill();
        waitForFinished(5000);
    }
    bool endsWell()
    {
        return platform::WaitUntil([&] { return state() == NotRunning; }, TransferWaitMs) &&
               exitStatus() == NormalExit && exitCode() == 0;
    }
};

class FileSender : public QObject {
public:
    // listen false: nothing accepts on 8087 (a refused connection).
    explicit FileSender(const QString& ip, bool listen = true) : m_ip(ip)
    {
        m_listening = !listen || m_server.listen(QHostAddress(ip), FileTransferPort);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection())
                m_connections.append(s);
        });
        m_bound = m_udp.bind(QHostAddress(ip), ChatDatagramPort);
        connect(&m_udp, &QUdpSocket::readyRead, this, [this] {
            while (m_udp.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_udp.receiveDatagram();
                m_datagrams.append(d.data());
                m_datagramSources.append(d.senderAddress().toString());
            }
        });
    }

    bool ready() const { return m_bound && m_listening; }
    QString ip() const { return m_ip; }

    // The latest accepted connection, once one came.
    QTcpSocket* connection() const { return m_connections.isEmpty() ? nullptr : m_connections.last().data(); }
    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    bool waitConnection(int count = 1)
    {
        return platform::WaitUntil([&] { return m_connections.size() >= count; }, TransferWaitMs);
    }
    // Writes and waits until the bytes left this side.
    bool send(const QByteArray& bytes)
    {
        QTcpSocket* s = connection();
        if (!s) return false;
        s->write(bytes);
        return platform::WaitUntil([&] { return !s || s->bytesToWrite() == 0; }, TransferWaitMs);
    }
    void closeConnection()
    {
        if (QTcpSocket* s = connection()) s->disconnectFromHost();
    }
    bool peerClosed() const
    {
        QTcpSocket* s = connection();
        return s && s->state() == QAbstractSocket::UnconnectedState;
    }

    const QList<QByteArray>& datagrams() const { return m_datagrams; }
    const QStringList& datagramSources() const { return m_datagramSources; }
    bool waitDatagram(int count = 1)
    {
        return platform::WaitUntil([&] { return m_datagrams.size() >= count; }, TransferWaitMs);
    }

private:
    QString m_ip;
    QTcpServer m_server;
    QUdpSocket m_udp;
    bool m_listening = false;
    bool m_bound = false;
    QList<QPointer<QTcpSocket>> m_connections;
    QList<QByteArray> m_datagrams;
    QStringList m_datagramSources;
};

// The bytes of a scrambled datagram, built here from the key rather than by the codec.
inline QByteArray ExpectedFramed(const QString& text)
{
    const QString& key = DatagramKey();
    QByteArray out("1");
    const QByteArray plain = text.toLatin1();
    for (qsizetype i = 0; i < plain.size(); ++i)
        out.append(static_cast<char>(static_cast<uchar>(plain[i]) ^
                                     (key.at(i % DatagramKeyLength).unicode() & 0xff)));
    return out;
}

// Bytes whose position can be read back from them, so a shifted or repeated block shows.
inline QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + (i >> 11)) & 0xff);
    return bytes;
}

// Scripted prompts, plus answers that wear out in order for message boxes whose
// text matches, so a question asked again and again can be answered differently.
class SequencePrompt : public platform::ScriptedPrompt {
public:
    using ScriptedPrompt::ScriptedPrompt;

    void answer(const QString& pattern, std::initializer_list<platform::MsgResult> results)
    {
        m_sequences.push_back({QRegularExpression(pattern), std::deque<platform::MsgResult>(results)});
    }
    // Every message box text and file dialog title, in order.
    const QStringList& shown() const { return m_shown; }

    platform::MsgResult msgBox(const platform::MsgBoxRequest& request) override
    {
        m_shown << request.text;
        for (auto& [pattern, results] : m_sequences) {
            if (!results.empty() && pattern.match(request.text).hasMatch()) {
                const platform::MsgResult r = results.front();
                results.pop_front();
                return r;
            }
        }
        return ScriptedPrompt::msgBox(request);
    }
    QString saveFile(const platform::FileDialogRequest& r) override
    {
        m_shown << r.title;
        lastSave = r;
        if (!saveAnswers.empty()) {
            const QString a = saveAnswers.front();
            saveAnswers.pop_front();
            return a;
        }
        return ScriptedPrompt::saveFile(r);
    }

    // Save dialog answers used up in order before the rules (an empty one cancels).
    std::deque<QString> saveAnswers;
    platform::FileDialogRequest lastSave;

private:
    std::vector<std::pair<QRegularExpression, std::deque<platform::MsgResult>>> m_sequences;
    QStringList m_shown;
};

// A file-transfer case's desk: message boxes answered in sequence, shell calls recorded.
struct TransferDesk {
    SequencePrompt* prompt = nullptr;
    platform::RecordingShell* shell = nullptr;

    void install(const QString& rules = {})
    {
        auto p = std::make_unique<SequencePrompt>(rules);
        prompt = p.get();
        platform::Prompt::install(std::move(p));
        auto s = std::make_unique<platform::RecordingShell>();
        shell = s.get();
        platform::Shell::install(std::move(s));
    }
    void remove()
    {
        platform::Prompt::install(nullptr);
        platform::Shell::install(nullptr);
        prompt = nullptr;
        shell = nullptr;
    }
};

} // namespace kv::test
