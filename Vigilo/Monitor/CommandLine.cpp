#include "Vigilo/Monitor/CommandLine.h"

using namespace Qt::StringLiterals;

namespace kv::vigilo {

QString RawCommandLine(const QStringList& arguments)
{
    QStringList parts;
    for (const QString& argument : arguments) {
        if (argument == AddOnlySwitch)
            parts << argument;
        else
            parts << u'"' + argument + u'"';
    }
    return parts.join(u' ');
}

std::optional<PeerslipArgument> ParsePeerslipArgument(const QString& commandLine)
{
    PeerslipArgument result;
    // "-m" only as an argument of its own, before the path: inside a path ("jean-marc") it is part of the name.
    result.addOnly = commandLine.startsWith(AddOnlySwitch) && commandLine.sliced(AddOnlySwitch.size()).startsWith(u' ');
    // "-m", blank, quote ... quote; or quote ... quote.
    const qsizetype head = result.addOnly ? 4 : 1;
    if (commandLine.size() < head + 1) return std::nullopt;
    result.path = commandLine.mid(head, commandLine.size() - head - 1);
    if (result.path.isEmpty()) return std::nullopt;
    if (result.path.contains(OwnPeerslipName, Qt::CaseInsensitive)) return std::nullopt;
    return result;
}

} // namespace kv::vigilo
