// kvwire: the protocol probe. Sends one chat-protocol message from a chosen
// local address, or listens on an address and prints every message it gets.
#include "Platform/ProgramOptions.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;
using kv::platform::Socket;

namespace {

constexpr int ExitOk = 0;
constexpr int ExitTimedOut = 1;
using kv::platform::ExitUsage;
constexpr int ExitSocketError = 3;

constexpr QStringView Description =
    u"The protocol probe: sends one chat-protocol message, or listens on an address\n"
    u"and prints every message it gets.\n"
    u"\n"
    u"  kvwire send [--from ADDR] [--plain] HOST:PORT TEXT\n"
    u"      Sends TEXT as one datagram to HOST:PORT, scrambled with the leading \"1\"\n"
    u"      (or as plain text with --plain), from the local address ADDR\n"
    u"      (default: KIVARA_LOCAL_IP, else any).\n"
    u"  kvwire listen ADDR:PORT [--count N] [--timeout S]\n"
    u"      Binds ADDR:PORT, writes \"listening on ADDR:PORT\" to stderr, then prints\n"
    u"      one line per message and exits after N messages or S seconds.\n"
    u"\n"
    u"Each message line reads:\n"
    u"  SENDER FORM N fields: FIELD0 | FIELD1 | ... | FIELDn-1\n"
    u"where FORM is \"scrambled\" or \"plain\" and N is the number of fields.\n"
    u"Backslashes and control characters inside a field appear as \\xNN.\n"
    u"\n"
    u"Exit status: 0 done, 1 timed out before N messages, 2 usage, 3 socket error.";
constexpr QStringView CommandName = u"command";
constexpr QStringView CommandHelp = u"send or listen, with its arguments as above.";
constexpr QStringView CommandSyntax = u"send|listen ARGUMENTS";

void printLine(FILE* stream, const QString& line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

struct Endpoint {
    QString host;
    int port = 0;
};

std::optional<Endpoint> parseEndpoint(const QString& text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    bool ok = false;
    const int port = text.sliced(colon + 1).toInt(&ok);
    if (!ok || port <= 0 || port > 65535)
        return std::nullopt;
    return Endpoint{text.first(colon), port};
}

QString showField(const QString& f)
{
    QString out;
    out.reserve(f.size());
    for (const QChar c : f) {
        if (c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += u"\\x%1"_s.arg(static_cast<uint>(c.unicode()), 2, 16, QChar(u'0'));
        else
            out += c;
    }
    return out;
}

QString describe(const QString& sender, const QByteArray& datagram)
{
    const QStringList fields = kv::ReadDatagram(datagram);
    QStringList shown;
    shown.reserve(fields.size());
    for (const QString& f : fields)
        shown.append(showField(f));
    return u"%1 %2 %3 fields: %4"_s.arg(sender,
                                        kv::IsScrambledDatagram(datagram) ? u"scrambled"_s : u"plain"_s,
                                        QString::number(fields.size()), shown.join(u" | "_s));
}

void reportSocketError(const QString& what, int number)
{
    printLine(stderr, u"kvwire: %1: %2: %3"_s.arg(what, QString::number(number), Socket::ErrorDescription(number)));
}

int send(QStringList args)
{
    bool plain = false;
    QString from;
    while (!args.isEmpty() && args.first().startsWith(u"--"_s)) {
        const QString option = args.takeFirst();
        if (option == u"--plain"_s)
            plain = true;
        else if (option == u"--from"_s && !args.isEmpty())
            from = args.takeFirst();
        else
            return ExitUsage;
    }
    if (args.size() != 2) return ExitUsage;
    const std::optional<Endpoint> to = parseEndpoint(args[0]);
    if (!to) return ExitUsage;
    if (!from.isEmpty())
        qputenv("KIVARA_LOCAL_IP", from.toLatin1());

    Socket socket(Socket::Protocol::Udp);
    socket.setRemoteHost(to->host);
    socket.setRemotePort(to->port);
    const QString& text = args[1];
    if (const int number = socket.SendData(plain ? kv::PlainDatagram(text) : kv::FrameDatagram(text))) {
        reportSocketError(u"cannot send to %1"_s.arg(args[0]), number);
        return ExitSocketError;
    }
    return ExitOk;
}

int listen(QStringList args)
{
    if (args.isEmpty()) return ExitUsage;
    const std::optional<Endpoint> at = parseEndpoint(args.takeFirst());
    if (!at) return ExitUsage;
    int count = 0;    // 0: no limit
    double timeout = 0; // 0: none
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        bool ok = false;
        if (option == u"--count"_s && !args.isEmpty())
            count = args.takeFirst().toInt(&ok);
        else if (option == u"--timeout"_s && !args.isEmpty())
            timeout = args.takeFirst().toDouble(&ok);
        if (!ok || count < 0 || timeout < 0) return ExitUsage;
    }
    qputenv("KIVARA_LOCAL_IP", at->host.toLatin1());

    Socket socket(Socket::Protocol::Udp);
    socket.setLocalPort(at->port);
    if (const int number = socket.Bind()) {
        reportSocketError(u"cannot bind %1:%2"_s.arg(at->host, QString::number(at->port)), number);
        return ExitSocketError;
    }
    printLine(stderr, u"listening on %1:%2"_s.arg(at->host, QString::number(socket.LocalPort())));

    int received = 0;
    QObject::connect(&socket, &Socket::DataArrival, &socket, [&] {
        const QByteArray datagram = socket.GetData();
        printLine(stdout, describe(socket.RemoteHostIP(), datagram));
        if (count > 0 && ++received >= count)
            QCoreApplication::exit(ExitOk);
    });
    if (timeout > 0) {
        QTimer::singleShot(static_cast<int>(timeout * 1000), &socket, [&] {
            if (count > 0)
                printLine(stderr, u"kvwire: timed out after %1 of %2 messages"_s.arg(received).arg(count));
            QCoreApplication::exit(count > 0 ? ExitTimedOut : ExitOk);
        });
    }
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    kv::platform::AddStandardOptions(parser);
    parser.setApplicationDescription(Description.toString());
    // The commands' own options follow the command.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addPositionalArgument(CommandName.toString(), CommandHelp.toString(), CommandSyntax.toString());
    if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;

    QStringList args = parser.positionalArguments();
    int code = ExitUsage;
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == u"send"_s)
        code = send(args);
    else if (command == u"listen"_s)
        code = listen(args);
    if (code == ExitUsage) std::fputs(qPrintable(parser.helpText()), stderr);
    return code;
}
