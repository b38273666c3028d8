#pragma once
// The window side of the object model: explorers (folder windows) and
// inspectors (item windows with their form pages). Here they are interfaces;
// a process installs the implementation it uses: the headless one below
// (no windows; tests and processes without a host), the host program's
// windows, or a proxy that reaches the host program over D-Bus.
#include "Platform/Outlook/Outlook.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

namespace kv::outlook {

class Explorer {
public:
    virtual ~Explorer() = default;
    virtual MAPIFolder CurrentFolder() = 0;
    virtual bool setCurrentFolder(const MAPIFolder& folder) = 0;
    virtual bool Display() = 0;
    virtual bool Activate() = 0; // bring to the front
    virtual bool Close() = 0;
};

// A page of an item's form as the form left it: its controls by name.
class FormPage {
public:
    virtual ~FormPage() = default;
    // The hosted control object; nullptr with 8002000B when there is none.
    virtual QObject* Controls(const QString& name) = 0;
};

class Inspector {
public:
    virtual ~Inspector() = default;
    virtual Item CurrentItem() = 0;
    virtual bool Display(bool modal = false) = 0;
    // olSave saves the item first; olDiscard drops its unsaved changes.
    virtual bool Close(int saveMode) = 0;
    virtual bool SetCurrentFormPage(const QString& pageName) = 0;
    // A custom page of the form; nullptr with 8002000B when the form has none of that name.
    virtual std::shared_ptr<FormPage> ModifiedFormPages(const QString& pageName) = 0;
    virtual QString CurrentFormPage() = 0;
    virtual bool IsDisplayed() = 0;
};

// What one process uses for windows. Installed once per process (the host
// program, a D-Bus client, or a test case); the default is headless. Every
// program other than the host installs the D-Bus client at start
// (InstallRemoteWindowSide, RemoteWindowSide.h).
class WindowSide {
public:
    virtual ~WindowSide() = default;
    // A running instance to attach to.
    virtual bool IsRunning() = 0;
    // Starts one (bounded wait); false when none could be started.
    virtual bool Start() = 0;
    virtual std::shared_ptr<Explorer> ActiveExplorer() = 0;
    virtual std::shared_ptr<Inspector> ActiveInspector() = 0;
    // A new, not yet displayed window on the folder.
    virtual std::shared_ptr<Explorer> GetExplorer(const MAPIFolder& folder) = 0;
    // The item's inspector: the open one, or a new, not yet displayed one.
    virtual std::shared_ptr<Inspector> GetInspector(const Item& item) = 0;
    // The item's open inspector, or nullptr.
    virtual std::shared_ptr<Inspector> FindInspector(const Item& item) = 0;

    static std::shared_ptr<WindowSide> current();
    static void install(std::shared_ptr<WindowSide> side);
};

// In-process window side without windows. Form pages are made by builders
// registered per message class (the role of a custom form's script): when an
// inspector is displayed, each builder of its class fills its page.
class HeadlessWindowSide : public QObject, public WindowSide {
    Q_OBJECT
public:
    class Page;
    using PageBuilder = std::function<void(const std::shared_ptr<Inspector>& inspector, Page& page)>;

    class Page : public FormPage {
    public:
        QObject* Controls(const QString& name) override;
        // The page owns the control; it is deleted (later) when the inspector closes.
        void addControl(const QString& name, QObject* control);
        // Deletes the controls (later: one may be running the close).
        void release();
        ~Page() override;

    private:
        QHash<QString, QPointer<QObject>> m_controls;
    };

    explicit HeadlessWindowSide(bool running = true);

    void setRunning(bool running) { m_running = running; }
    void setStartable(bool startable) { m_startable = startable; }
    void setPageBuilder(const QString& messageClass, const QString& pageName, PageBuilder builder);

    bool IsRunning() override { return m_running; }
    bool Start() override;
    std::shared_ptr<Explorer> ActiveExplorer() override;
    std::shared_ptr<Inspector> ActiveInspector() override;
    std::shared_ptr<Explorer> GetExplorer(const MAPIFolder& folder) override;
    std::shared_ptr<Inspector> GetInspector(const Item& item) override;
    std::shared_ptr<Inspector> FindInspector(const Item& item) override;

    // Tests observe what was shown.
    QList<std::shared_ptr<Inspector>> openInspectors() const;
    QList<std::shared_ptr<Explorer>> openExplorers() const;

Q_SIGNALS:
    void inspectorDisplayed(const QString& entryId, const QString& messageClass);
    void inspectorClosed();
    void explorerDisplayed(const QString& folderName);

private:
    class HInspector;
    class HExplorer;
    friend class HInspector;
    friend class HExplorer;

    bool m_running = true;
    bool m_startable = true;
    QList<std::shared_ptr<HInspector>> m_inspectors; // displayed or created, in activation order
    QList<std::shared_ptr<HExplorer>> m_explorers;
    struct Builder {
        QString messageClass;
        QString page;
        PageBuilder build;
    };
    QList<Builder> m_builders;
};

} // namespace kv::outlook
