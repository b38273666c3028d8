// kvsetup: the product set-up that an installer performs, for this user
// (see Setup.h), with the programs of the folder kvsetup itself sits in.
//   kvsetup [--share <folder with sounds/, help/, icons/>]
// Without --share, an installed kvsetup copies the installed data files.
#include "Shared/Setup.h"

#include <QCoreApplication>
#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int shareAt = static_cast<int>(args.indexOf(u"--share"_s));
    kv::setup::Options options;
    options.systemFolder = QCoreApplication::applicationDirPath();
    options.share = shareAt > 0 && shareAt + 1 < args.size() ? args[shareAt + 1]
                                                             : kv::setup::InstalledShare(options.systemFolder);

    const kv::setup::Result result = kv::setup::Install(options);
    std::printf("InstallDir: %s\nSerialNum: %s\nData files copied: %d\nForms registered: %s\n",
                qPrintable(result.installDir), qPrintable(result.serialNum), result.files,
                result.forms ? "yes" : "no");
    if (!result.forms) std::fprintf(stderr, "kvsetup: %s\n", qPrintable(result.error));
    return result.forms ? 0 : 1;
}
