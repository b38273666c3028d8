#pragma once
// Saving a window as a PNG once pending events (layout, painting) have run.
#include <QCoreApplication>
#include <QWidget>
#include <cstdio>

inline bool shoot(QWidget* w, const QString& file)
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const bool ok = w && w->grab().save(file);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(file));
    std::fflush(stdout);
    return ok;
}
