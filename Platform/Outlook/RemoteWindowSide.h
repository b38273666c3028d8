#pragma once
// The window side of a process that is not the mail host: every window member
// is a call to the host program over the session bus (name
// "Outlook.Application"). Calls are asynchronous and the caller keeps
// processing its own events while it waits, because the host may answer only
// after a modal dialog (a passed HELLO waits for the admission dialog).
#include "Platform/Outlook/WindowSide.h"

#include <QHash>
#include <QObject>
#include <functional>

namespace kv::outlook {

inline constexpr QStringView HostServiceName = u"Outlook.Application";
inline constexpr QStringView HostProgramName = u"outlook-standin";
// The host started for automation shows no window until asked to.
inline constexpr QStringView HostEmbeddingArgument = u"--embedding";

struct RemoteTimings {
    int startWaitMs = 30000; // for the started host to take its name
    // Longer than any modal dialog the host may show while answering
    // (the admission dialog refuses by itself after 45 s).
    int callTimeoutMs = 120000;
    int pendingNoticeMs = 5000; // when the request-pending notice is due
};

class RemoteWindowSide : public QObject, public WindowSide {
    Q_OBJECT
public:
    using Timings = RemoteTimings;

    explicit RemoteWindowSide(const Timings& timings = {});
    ~RemoteWindowSide() override;

    // Where Start() finds the host program (default: the system folder).
    void setProgram(const QString& path) { m_program = path; }
    QString program() const;
    // The request-pending hook: called with true once a call has waited
    // pendingNoticeMs without an answer, and with false when it ends.
    void setPendingHandler(std::function<void(bool pending)> handler) { m_pending = std::move(handler); }
    void setPendingNoticeMs(int ms) { m_timings.pendingNoticeMs = ms; }
    int pendingNoticeMs() const { return m_timings.pendingNoticeMs; }
    const Timings& timings() const { return m_timings; }

    bool IsRunning() override;
    bool Start() override;
    std::shared_ptr<Explorer> ActiveExplorer() override;
    std::shared_ptr<Inspector> ActiveInspector() override;
    std::shared_ptr<Explorer> GetExplorer(const MAPIFolder& folder) override;
    std::shared_ptr<Inspector> GetInspector(const Item& item) override;
    std::shared_ptr<Inspector> FindInspector(const Item& item) override;

    // The proxy object of a control on the host (owned by this side).
    QObject* controlAt(const QString& path);

    class Call;

private:
    friend class RInspector;
    friend class RExplorer;
    friend class RControl;
    std::shared_ptr<Inspector> inspectorAt(const QString& path);
    std::shared_ptr<Explorer> explorerAt(const QString& path);

    Timings m_timings;
    QString m_program;
    std::function<void(bool)> m_pending;
    QHash<QString, QObject*> m_controls;
};

// Installs a RemoteWindowSide as the process's window side and returns it.
std::shared_ptr<RemoteWindowSide> InstallRemoteWindowSide(const RemoteWindowSide::Timings& timings = {});

// Converts what arrives over the bus (variants, nested arguments) into plain
// QVariant values: maps, lists, string lists, byte arrays.
QVariant FromBus(const QVariant& value);
// Converts a value for sending: invalid becomes "", an object its name.
QVariant ToBus(const QVariant& value);

// Error replies carry the error number: "org.kivara.Outlook.Error", "<hex> <description>".
inline constexpr QStringView HostErrorName = u"org.kivara.Outlook.Error";
QString HostErrorMessage(const OlError& error);

} // namespace kv::outlook
