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
    Q_PROPERTY(QObject* objParent MEMBER m_parent)
    Q_PROPERTY(bool TrayOpened MEMBER m_tray)
    Q_PROPERTY(QString RemoteHost MEMBER m_host)
    Q_PROPERTY(int RemotePort MEMBER m_port)
    Q_PROPERTY(QString ContactName MEMBER m_contact)
    Q_PROPERTY(QStringList CallLog MEMBER m_log)

public:
    explicit FakeKivara(QWidget* parent = nullptr);

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
