#pragma once
// The end of the desktop session as one Qt signal: the session manager's
// commitDataRequest, SIGTERM (what the session sends its programs on logging
// out) and SIGINT. A program answers it with its normal closing path, without
// questions, so that nothing the user changed is lost.
#include <QObject>

class QSocketNotifier;

namespace kv::platform {

class SessionEnd : public QObject {
    Q_OBJECT
public:
    // Takes over SIGTERM and SIGINT for the object's lifetime; one at a time.
    explicit SessionEnd(QObject* parent = nullptr);
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

Q_SIGNALS:
    // Raised once. A second signal after it ends the process as the default would.
    void ending();

private:
    void raiseOnce();

    QSocketNotifier* m_notifier = nullptr;
    bool m_raised = false;
};

} // namespace kv::platform
