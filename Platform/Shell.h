#pragma once
// The shell's "open": documents, folders and URLs with the desktop's handler,
// programs with arguments and a working folder.
#include <QString>
#include <QStringList>
#include <memory>

namespace kv::platform {

class Shell {
public:
    virtual ~Shell() = default;
    // Opens a document, folder or URL. False when nothing could open it.
    virtual bool open(const QString& target) = 0;
    // Starts a program detached. False when it could not be started.
    virtual bool start(const QString& program, const QStringList& arguments, const QString& workingDir = {}) = 0;

    static Shell& current();
    static void install(std::unique_ptr<Shell> shell);
};

} // namespace kv::platform
