#pragma once
// The window side of the mail host: explorers and inspectors are real
// windows. Installed as the process's window side in outlook-standin, so the
// object model's window members (and the D-Bus export) reach these windows.
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/WindowSide.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <memory>

namespace kv::host {

using namespace kv::outlook;

class InspectorWindow;
class ExplorerWindow;
class HostWindowSide;

// A custom page of a form: the controls its script created, by name.
class HostFormPage : public FormPage {
public:
    QObject* Controls(const QString& name) override;
    void addControl(const QString& name, QObject* control) { m_controls.insert(name, control); }

private:
    QHash<QString, QPointer<QObject>> m_controls;
};

class HostInspector : public Inspector, public std::enable_shared_from_this<HostInspector> {
public:
    HostInspector(HostWindowSide* side, Item item);
    ~HostInspector() override;

    Item CurrentItem() override;
    bool Display(bool modal) override;
    bool Close(int saveMode) override;
    bool SetCurrentFormPage(const QString& pageName) override;
    std::shared_ptr<FormPage> ModifiedFormPages(const QString& pageName) override;
    QString CurrentFormPage() override;
    bool IsDisplayed() override;

    const Item& item() const { return m_item; }
    Application application() const;
    bool closed() const { return m_closed; }
    InspectorWindow* window() const;
    // objParent of the controls on this form.
    InspectorObject* automationObject();
    // The window became the active one.
    void activated();
    QString controlFolder() const;

private:
    InspectorWindow* ensureWindow();

    HostWindowSide* m_side;
    Item m_item;
    QPointer<InspectorWindow> m_window;
    InspectorObject* m_object = nullptr;
    bool m_displayed = false;
    bool m_closed = false;
};

class HostExplorer : public Explorer, public std::enable_shared_from_this<HostExplorer> {
public:
    HostExplorer(HostWindowSide* side, MAPIFolder folder);
    ~HostExplorer() override;

    MAPIFolder CurrentFolder() override;
    bool setCurrentFolder(const MAPIFolder& folder) override;
    bool Display() override;
    bool Activate() override;
    bool Close() override;

    ExplorerWindow* window() const;
    void activated();
    // The user closed the window.
    void windowClosed();

private:
    HostWindowSide* m_side;
    QPointer<ExplorerWindow> m_window;
    bool m_displayed = false;
};

class HostWindowSide : public QObject, public WindowSide {
    Q_OBJECT
public:
    explicit HostWindowSide(const QString& storePath);
    ~HostWindowSide() override;

    bool IsRunning() override { return true; }
    bool Start() override { return true; }
    std::shared_ptr<Explorer> ActiveExplorer() override;
    std::shared_ptr<Inspector> ActiveInspector() override;
    std::shared_ptr<Explorer> GetExplorer(const MAPIFolder& folder) override;
    std::shared_ptr<Inspector> GetInspector(const Item& item) override;
    std::shared_ptr<Inspector> FindInspector(const Item& item) override;

    Application application() const { return m_app; }
    // Closes every window (discarding unsaved changes); before the program ends.
    void closeAll();
    // The session ends: every form with changes a person would be asked about
    // is saved and closed without asking. The descriptions of those that failed.
    QStringList saveChanges();

    QList<std::shared_ptr<HostInspector>> inspectors() const { return m_inspectors; }
    // Where forms load their controls from; empty: the system folder.
    void setControlFolder(const QString& folder) { m_controlFolder = folder; }
    QString controlFolder() const { return m_controlFolder; }
    QList<std::shared_ptr<HostExplorer>> explorers() const { return m_explorers; }

Q_SIGNALS:
    // An item was saved, moved or deleted through a form: explorers refresh.
    void itemsChanged();
    void inspectorClosed();
    void explorerClosed();

private:
    friend class HostInspector;
    friend class HostExplorer;
    Application m_app;
    QString m_controlFolder;
    // Displayed windows, the active one last.
    QList<std::shared_ptr<HostInspector>> m_inspectors;
    QList<std::shared_ptr<HostExplorer>> m_explorers;
    // Made but not yet displayed.
    QList<std::shared_ptr<HostInspector>> m_hiddenInspectors;
    QList<std::shared_ptr<HostExplorer>> m_hiddenExplorers;
};

} // namespace kv::host
