#pragma once
// Message entry: the split of a typed line into a slash command and its
// argument, the command words with their aliases, and the command list text.
#include <QString>
#include <optional>

namespace kv::control {

struct CommandLine {
    QString word;     // lower case
    QString argument; // everything after the first blank, blanks and case kept
};

// A line that starts with "/" or "\" is a command (whatever follows); nothing otherwise.
std::optional<CommandLine> SplitCommandLine(const QString& text);

enum class Command { CmdList, Help, Private, Leave, Away, Ignore, Kick, Nick, Whois, None };
Command CommandFor(const QString& word);

// The name the command list is written under, and the list's lines after it.
inline constexpr QStringView CommandListName = u"Kivara";
QString CommandListText();


} // namespace kv::control
