#pragma once
// The running monitor on the session bus: its name is the previous-instance
// test, "Close" runs the normal closing path (the uninstaller uses it), and
// "HandleCommandLine" carries a second start's Peerslip argument to it, and
// "CallerLine" reads the window's caller line (what the poll last reported),
// as a window's text would be read from outside.
#include "Shared/Installed.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringView>

namespace kv::vigilo {

class frmTray;

inline constexpr QStringView BusName = installed::MonitorBusName;
inline constexpr QStringView BusPath = installed::MonitorBusPath;
inline constexpr QStringView BusInterface = installed::MonitorBusInterface;

class MonitorInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "Kivara.Vigilo")
public:
    explicit MonitorInstance(QObject* parent = nullptr);
    ~MonitorInstance() override;

    // Claims the bus name. False when another monitor holds it; true also
    // when there is no session bus (the port bind then decides).
    bool Claim();
    // Exports the interface for the window once it has loaded.
    void Attach(frmTray* window);
    // Hands a command line to the running monitor; false when none answered.
    static bool SendCommandLine(const QString& commandLine);
    // Asks the running monitor to close; false when none answered.
    static bool RequestClose();

public Q_SLOTS:
    Q_SCRIPTABLE void Close();
    Q_SCRIPTABLE void HandleCommandLine(const QString& commandLine);
    Q_SCRIPTABLE QString CallerLine() const;

private:
    QPointer<frmTray> m_window;
    bool m_claimed = false;
};

} // namespace kv::vigilo
