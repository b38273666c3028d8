#pragma once
// The item windows: the contact form (with the "Kivara" page for Kivara
// contacts), the message form of the product's messages, and the mail window
// for new mail. Each shows one item of an inspector.
#include "MailHost/HostWindowSide.h"

#include <QMainWindow>
#include <QPointer>
#include <QStyle>
#include <memory>

class QFormLayout;
class QTabWidget;
class QListWidget;
class QLineEdit;
class QPlainTextEdit;
class QLabel;
class QToolBar;

namespace kv::host {

// Names a form and its script use.
inline constexpr QStringView KivaraPageName = u"Kivara";
inline constexpr QStringView KivaraControlClass = u"Kivara";
inline constexpr QStringView KivaraControlName = u"Kivara1";
inline constexpr QStringView GeneralPageName = u"General";
inline constexpr QStringView MsgReadProperty = u"MsgRead";
inline constexpr QStringView OutboxFolderName = u"Outbox";
inline constexpr QStringView SaveChangesText = u"Do you want to save changes?";
inline constexpr QStringView OutboxText =
    u"No mail program is set up on this computer.\rThe message was kept in the \"Outbox\" folder.";
inline constexpr QStringView ControlMissingText = u"The control \"%1\" is not installed on this computer.";
inline constexpr QStringView HostTitle = u"Microsoft Outlook";
// The call target on a Kivara contact's General page.
inline constexpr QStringView ComputerLabel = u"Computer:";
inline constexpr QStringView PortLabel = u"Port:";

class InspectorWindow : public QMainWindow {
    Q_OBJECT
public:
    // The window for the item's message class.
    static InspectorWindow* create(HostInspector* inspector);
    ~InspectorWindow() override;

    // Makes a page current: a tab of the form, or a standard page name
    // (accepted, the form shows what it has). False: no such page.
    bool setCurrentPage(const QString& name);
    QString currentPage() const;
    // A custom page and its controls, or nullptr.
    std::shared_ptr<HostFormPage> customPage(const QString& name) const { return m_custom.value(name); }
    // Called once when the inspector is first displayed.
    virtual void opened() {}
    // Closing is the inspector's: the window only asks it.
    void setClosing() { m_closing = true; }

protected:
    InspectorWindow(HostInspector* inspector, const QString& pageTitle);
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // A form page: a tab with a form layout of member fields.
    QWidget* addPage(const QString& name, QWidget* page);
    // A line edit bound to a member of the item.
    QLineEdit* memberField(const QString& member, bool readOnly = false);
    QPlainTextEdit* bodyField(bool readOnly = false);
    // A command on the form's standard toolbar, made with the first.
    QAction* toolAction(QStyle::StandardPixmap icon, const QString& text, const QString& name);
    void saveAndClose();

    HostInspector* m_inspector;
    QTabWidget* m_tabs = nullptr;
    QToolBar* m_toolBar = nullptr;
    QHash<QString, std::shared_ptr<HostFormPage>> m_custom;
    bool m_closing = false;
};

class ContactForm : public InspectorWindow {
    Q_OBJECT
public:
    explicit ContactForm(HostInspector* inspector);

private:
    void addCallTarget(QFormLayout* form);
    void buildKivaraPage();
    // Hands the computer and a valid port to the chat control, as its Place Call dials them.
    void aimControl();

    QLineEdit* m_computer = nullptr;
    QLineEdit* m_port = nullptr;
    QPointer<QWidget> m_control;
};

class MessageForm : public InspectorWindow {
    Q_OBJECT
public:
    explicit MessageForm(HostInspector* inspector);
    void opened() override;

private:
    void openAttachment(int index);
    QListWidget* m_attachments = nullptr;
};

class MailWindow : public InspectorWindow {
    Q_OBJECT
public:
    explicit MailWindow(HostInspector* inspector);
    // Hands the mail to the desktop's mail client, or keeps it in "Outbox".
    bool send();

private:
    void attachFiles();
    void refreshAttachments();
    QLineEdit* m_to = nullptr;
    QListWidget* m_attachments = nullptr;
};

// Saves an item's attachment into the private temporary folder; the path or empty.
QString SaveAttachmentForOpening(const Attachment& attachment);

} // namespace kv::host
