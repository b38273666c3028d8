#pragma once
// The shell's "open": documents, folders and URLs with the desktop's handler,
// a file shown in its folder, programs with arguments and a working folder.
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace kv::platform {

// One call of the shell, as recorded for tests.
struct ShellCall {
    QString kind;   // "open", "show" or "start"
    QString target; // the document, folder or URL, or the program
    QStringList arguments;
    QString workingDir;

    // One line of KIVARA_SHELL_LOG: a JSON object, without the line break.
    QByteArray toJson() const;
};

class Shell {
public:
    virtual ~Shell() = default;
    // Opens a document, folder or URL. False when nothing could open it.
    virtual bool open(const QString& target) = 0;
    // Shows a file selected in the desktop's file manager; without one, opens
    // the folder that holds it. False when nothing could be asked to.
    virtual bool showInFolder(const QString& path) = 0;
    // Starts a program detached. False when it could not be started.
    virtual bool start(const QString& program, const QStringList& arguments,
                       const QString& workingDir = {}) = 0;

    // The process's shell. When KIVARA_SHELL_LOG names a file every call is
    // also appended to it; with KIVARA_SHELL_DRYRUN=1 as well, documents and
    // URLs are only recorded, not opened (programs still start).
    static Shell& current();
    static void install(std::unique_ptr<Shell> shell);
    // A new service chosen from the environment as current() chooses it.
    static std::unique_ptr<Shell> createDefault();
};

// Has the desktop reread the user's desktop entries (dataHome/applications) or
// MIME packages (dataHome/mime) after they changed: their tools are started
// through the current shell, not awaited; a tool that is not installed is skipped.
void RefreshDesktopDatabases(const QString& dataHome, bool entries, bool types);

// Records instead of performing, for tests; answers every call with result.
class RecordingShell : public Shell {
public:
    bool open(const QString& target) override
    {
        m_calls.append({QStringLiteral("open"), target, {}, {}});
        return result;
    }
    bool showInFolder(const QString& path) override
    {
        m_calls.append({QStringLiteral("show"), path, {}, {}});
        return result;
    }
    bool start(const QString& program, const QStringList& arguments, const QString& workingDir = {}) override
    {
        m_calls.append({QStringLiteral("start"), program, arguments, workingDir});
        return result;
    }
    const QList<ShellCall>& calls() const { return m_calls; }

    bool result = true;

private:
    QList<ShellCall> m_calls;
};

} // namespace kv::platform
