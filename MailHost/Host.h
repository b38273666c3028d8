#pragma once
// The mail host program: its window side, its automation export, and the
// explorer it opens when a person starts it.
#include <QStringList>

namespace kv::host {

// Runs the program with its arguments (without the program name); the exit code.
// "--embedding": started for automation, no window until a caller asks.
int Run(const QStringList& arguments);

} // namespace kv::host
