#pragma once
// The options every program of the product answers alike: -h/--help prints the
// usage, -v/--version the program's name and the product's version, and an
// option the program does not take ends it with status 2 and the usage on
// standard error, before anything is set up or opened.
#include <QCommandLineParser>
#include <optional>

namespace kv::platform {

inline constexpr int ExitUsage = 2;

// Adds --help and --version to the parser, before the program adds its own
// options and arguments. Single-dash words are options, as Qt's own (-platform).
void AddStandardOptions(QCommandLineParser& parser);

// Parses the command line; the status to end with when it was answered here.
// Before an application object exists it parses argv and answers help and
// version only, so that they need no desktop: Qt's own options (-platform,
// -style, -session ...) are known once that object has taken them, so a
// program asks again after making it, and then an unknown option is refused.
std::optional<int> AnswerCommandLine(QCommandLineParser& parser, int argc, char* argv[]);

} // namespace kv::platform
