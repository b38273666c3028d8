#pragma once
// What the picture tools share: the output folder and the sample user, and
// saving a window as a PNG once pending events (layout, painting) have run.
#include "Platform/Outlook/Store.h"
#include "Shared/modReg.h"

#include <QCoreApplication>
#include <QDir>
#include <QWidget>
#include <cstdio>

// The folder named by the first argument (made when missing), with the
// product's forms in the store and a profile, so that nothing asks for one.
inline QString PrepareShots(int argc, char* argv[])
{
    using namespace Qt::StringLiterals;
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);
    kv::outlook::RegisterProductForms(kv::outlook::DefaultStorePath());
    if (kv::ReadSetting(kv::subkeys::Profile.toString(), u"ChatName"_s, QString()).isEmpty()) {
        kv::WriteSetting(kv::settings::ChatName, u"Dana"_s);
        kv::WriteSetting(kv::settings::FullName, u"Dana Reyes"_s);
        kv::WriteSetting(kv::settings::UserStatus, u"Available"_s);
    }
    return out;
}

inline bool shoot(QWidget* w, const QString& file)
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const bool ok = w && w->grab().save(file);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(file));
    std::fflush(stdout);
    return ok;
}
