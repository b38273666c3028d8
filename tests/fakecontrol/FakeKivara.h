#pragma once
// A stand-in chat control for hosting tests: a few members with the chat
// control's names, and records of what the host and callers did with it.
#include "Platform/ControlPlugin.h"

#include <QObject>
#include <QStringList>
#include <QWidget>

class QLabel;

class FakeKivara : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QObject* objParent READ objParent WRITE setObjParent)
    Q_PROPERTY(bool TrayOpened READ TrayOpened WRITE setTrayOpened)
    Q_PROPERTY(QString RemoteHost READ RemoteHost WRITE setRemoteHost)
    Q_PROPERTY(int RemotePort READ RemotePort WRITE setRemotePort)
    Q_PROPERTY(QString ContactName READ ContactName)
    Q_PROPERTY(QStringList CallLog READ CallLog)

public:
    explicit FakeKivara(QWidget* parent = nullptr);

    QObject* objParent() const { return m_parent; }
    void setObjParent(QObject* p) { m_parent = p; }
    bool TrayOpened() const { return m_tray; }
    void setTrayOpened(bool v) { m_tray = v; }
    QString RemoteHost() const { return m_host; }
    void setRemoteHost(const QString& h) { m_host = h; }
    int RemotePort() const { return m_port; }
    void setRemotePort(int p) { m_port = p; }
    QString ContactName() const { return m_contact; }
    QStringList CallLog() const { return m_log; }

    Q_INVOKABLE int ChatInit();
    Q_INVOKABLE int DataPass(const QString& sDataPass);
    Q_INVOKABLE void SetStatus(const QString& sStatus);
    Q_INVOKABLE int Connect(const QString& sRemoteHost = QString(), int lRemotePort = 0);
    // Runs a nested event loop as long as a modal dialog would, then answers.
    Q_INVOKABLE int HoldFor(int ms);
    // Closes its own form through objParent, as the chat control does.
    Q_INVOKABLE bool CloseForm();

private:
    QObject* m_parent = nullptr;
    bool m_tray = false;
    QString m_host;
    int m_port = 0;
    QString m_contact;
    QStringList m_log;
    QLabel* m_label;
};

class FakeControlFactory : public QObject, public kv::platform::ControlFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KivaraControlFactory_iid FILE "fakecontrol.json")
    Q_INTERFACES(kv::platform::ControlFactory)
public:
    QWidget* create(const QString& className, QWidget* parent) override;
    void attachHost(std::shared_ptr<kv::outlook::WindowSide> windows) override;
};
