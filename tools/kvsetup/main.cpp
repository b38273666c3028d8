// kvsetup: the product set-up that an installer performs, for this user:
// InstallDir (ending in "/") and SerialNum in the settings, the data files
// (sounds, help page, icons) copied into InstallDir, and the product's forms
// registered in the mail store. Values already set are kept.
//   kvsetup [--share <folder with sounds/, help/, icons/>]
#include "Outlook/Outlook.h"
#include "Outlook/Store.h"
#include "modReg.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// A new installation identifier: "KV-" and twelve hexadecimal digits in three groups.
QString NewSerialNum()
{
    auto* rng = QRandomGenerator::system();
    return u"KV-%1-%2-%3"_s.arg(rng->bounded(0x10000), 4, 16, QChar(u'0'))
        .arg(rng->bounded(0x10000), 4, 16, QChar(u'0'))
        .arg(rng->bounded(0x10000), 4, 16, QChar(u'0'))
        .toUpper();
}

int CopyTree(const QString& from, const QString& to)
{
    int copied = 0;
    if (!QDir(from).exists()) return 0;
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + QDir(from).relativeFilePath(src);
        QDir().mkpath(QFileInfo(dst).path());
        QFile::remove(dst);
        if (QFile::copy(src, dst)) ++copied;
    }
    return copied;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int shareAt = static_cast<int>(args.indexOf(u"--share"_s));
    const QString share = shareAt > 0 && shareAt + 1 < args.size() ? args[shareAt + 1] : QString();

    QString installDir = kv::ReadSetting(kv::qs(kv::subkeys::Settings),
                                         kv::qs(kv::settings::InstallDir.name), QString());
    if (installDir.isEmpty()) {
        installDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/kivara/"_s;
        kv::WriteSetting(kv::settings::InstallDir, installDir);
    }
    if (!installDir.endsWith(u'/')) {
        installDir += u'/';
        kv::WriteSetting(kv::settings::InstallDir, installDir);
    }
    QDir().mkpath(installDir);
    QString serial = kv::ReadSetting(kv::qs(kv::subkeys::Settings), kv::qs(kv::settings::SerialNum.name), QString());
    if (serial.isEmpty()) {
        serial = NewSerialNum();
        kv::WriteSetting(kv::settings::SerialNum, serial);
    }

    int files = 0;
    // Sounds and the help page sit directly in InstallDir, where the settings'
    // defaults name them (InstallDir + "trillo.wav"); icons in a folder of their own.
    if (!share.isEmpty()) {
        files += CopyTree(share + u"/sounds"_s, installDir);
        files += CopyTree(share + u"/help"_s, installDir);
        files += CopyTree(share + u"/icons"_s, installDir + u"icons/"_s);
    }

    const bool forms = kv::outlook::RegisterProductForms(kv::outlook::DefaultStorePath());
    std::printf("InstallDir: %s\nSerialNum: %s\nData files copied: %d\nForms registered: %s\n",
                qPrintable(installDir), qPrintable(serial), files, forms ? "yes" : "no");
    if (!forms) std::fprintf(stderr, "kvsetup: %s\n", qPrintable(kv::outlook::Err().Description));
    return forms ? 0 : 1;
}
