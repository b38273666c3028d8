#pragma once
// The host's automation export on the session bus: the name
// "Outlook.Application", the application at /Application, explorers and
// inspectors at /Explorers/N and /Inspectors/N as callers reach them, and the
// controls of form pages below their inspector. Works on whatever window side
// the process has installed.
#include "Platform/Outlook/WindowSide.h"

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <memory>

namespace kv::host {

using namespace kv::outlook;

class HostBus;

class ApplicationExport : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    explicit ApplicationExport(HostBus* bus);

public Q_SLOTS:
    QDBusObjectPath ActiveExplorer();
    QDBusObjectPath ActiveInspector();
    QDBusObjectPath GetExplorer(const QString& folderId);
    QDBusObjectPath GetInspector(const QString& entryId);
    QDBusObjectPath GetInspectorForItem(const QVariantMap& snapshot);
    QDBusObjectPath FindInspector(const QString& entryId);
    void Quit();

private:
    QDBusObjectPath fail();
    HostBus* m_bus;
};

class ExplorerExport : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    ExplorerExport(std::weak_ptr<Explorer> explorer, QObject* parent);
    std::shared_ptr<Explorer> explorer() const { return m_explorer.lock(); }

public Q_SLOTS:
    QString CurrentFolder();
    void SetCurrentFolder(const QString& folderId);
    void Display();
    void Activate();
    void Close();

private:
    std::shared_ptr<Explorer> target();
    void check(bool ok);
    std::weak_ptr<Explorer> m_explorer;
};

class InspectorExport : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    InspectorExport(std::weak_ptr<Inspector> inspector, const QString& path, QObject* parent);
    std::shared_ptr<Inspector> inspector() const { return m_inspector.lock(); }

public Q_SLOTS:
    QVariantMap CurrentItem();
    void Display(bool modal);
    void Close(int saveMode);
    void SetCurrentFormPage(const QString& pageName);
    QString CurrentFormPage();
    bool IsDisplayed();
    void HasFormPage(const QString& pageName);
    QDBusObjectPath Control(const QString& pageName, const QString& name);

private:
    std::shared_ptr<Inspector> target();
    void check(bool ok);
    std::weak_ptr<Inspector> m_inspector;
    QString m_path;
    QHash<QString, QObject*> m_controls; // exports by control path
};

class ControlExport : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    ControlExport(QObject* control, QObject* parent);

public Q_SLOTS:
    QDBusVariant Invoke(const QString& member, int callType, const QVariantList& arguments);
    QStringList Members();

private:
    QPointer<QObject> m_control;
};

class HostBus : public QObject {
    Q_OBJECT
public:
    explicit HostBus(QObject* parent = nullptr);
    ~HostBus() override;

    // Registers the objects and takes the name; false (with why) when the
    // bus is absent or another instance holds the name.
    bool start(QString* why);

    QDBusObjectPath pathFor(const std::shared_ptr<Explorer>& e);
    QDBusObjectPath pathFor(const std::shared_ptr<Inspector>& i);

private:
    void sweep();
    QList<QPair<std::weak_ptr<Explorer>, ExplorerExport*>> m_explorers;
    QList<QPair<std::weak_ptr<Inspector>, InspectorExport*>> m_inspectors;
    int m_next = 1;
    bool m_registered = false;
};

} // namespace kv::host
