#include "Control/Session/MessageEntry.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace kv::control {

std::optional<CommandLine> SplitCommandLine(const QString& text)
{
    if (text.isEmpty() || (text.front() != u'/' && text.front() != u'\\')) return std::nullopt;
    const QString rest = text.mid(1);
    const qsizetype blank = rest.indexOf(u' ');
    CommandLine line;
    if (blank < 0) {
        line.word = rest.toLower();
    } else {
        line.word = rest.left(blank).toLower();
        line.argument = rest.mid(blank + 1);
    }
    return line;
}

Command CommandFor(const QString& word)
{
    static const struct {
        const char* word;
        Command command;
    } table[] = {
        {"cmdlist", Command::CmdList}, {"help", Command::Help},       {"?", Command::Help},
        {"msg", Command::Private},     {"query", Command::Private},   {"private", Command::Private},
        {"part", Command::Leave},      {"leave", Command::Leave},     {"quit", Command::Leave},
        {"away", Command::Away},       {"ban", Command::Ignore},      {"ignore", Command::Ignore},
        {"kick", Command::Kick},       {"disconnect", Command::Kick}, {"nick", Command::Nick},
        {"user", Command::Whois},      {"whois", Command::Whois},
    };
    for (const auto& e : table) {
        if (word == QLatin1StringView(e.word)) return e.command;
    }
    return Command::None;
}

QString CommandListText()
{
    static const QStringList lines = {
        u"Kivara Command Line"_s,
        u"/cmdlist - Display this command list"_s,
        u"/help, /? - Display help contents"_s,
        QString(),
        u"/msg, /query, /private <username> - Opens private room with specified user"_s,
        u"/part, /leave, /quit - Leave the current room (close if private room)"_s,
        u"/ban, /ignore <username> - Ignore specified user"_s,
        u"/kick, /disconnect <username> - Remove specified user from room"_s,
        u"/nick <new chatname> - Change your Chat name to name specified"_s,
        u"/user, /whois <username> - Show user's Peerslip"_s,
    };
    return lines.join(u"\r\n"_s);
}

} // namespace kv::control
