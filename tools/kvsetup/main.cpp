// kvsetup: the product set-up that an installer performs, for this user
// (see Setup.h), with the programs of the folder kvsetup itself sits in.
//   kvsetup [--share <folder with sounds/, help/, icons/>]
// Without --share, an installed kvsetup copies the installed data files.
#include "Platform/ProgramOptions.h"
#include "Shared/Setup.h"

#include <QCoreApplication>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
constexpr QStringView Description = u"Sets Kivara up for the current user.";
constexpr QStringView ShareHelp =
    u"Copies the data files from <folder>, which holds sounds/, help/ and icons/. "
    u"Without it, the installed data files are used (../share/kivara from the "
    u"program's folder); outside an installation no data files are copied.";
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    kv::platform::AddStandardOptions(parser);
    parser.setApplicationDescription(Description.toString());
    const QCommandLineOption share(u"share"_s, ShareHelp.toString(), u"folder"_s);
    parser.addOption(share);
    if (const auto code = kv::platform::AnswerCommandLine(parser, argc, argv)) return *code;

    kv::setup::Options options;
    options.systemFolder = QCoreApplication::applicationDirPath();
    options.share =
        parser.isSet(share) ? parser.value(share) : kv::setup::InstalledShare(options.systemFolder);

    const kv::setup::Result result = kv::setup::Install(options);
    std::printf("InstallDir: %s\nSerialNum: %s\nData files copied: %d\nForms registered: %s\n",
                qPrintable(result.installDir), qPrintable(result.serialNum), result.files,
                result.forms ? "yes" : "no");
    if (!result.forms) std::fprintf(stderr, "kvsetup: %s\n", qPrintable(result.error));
    return result.forms ? 0 : 1;
}
