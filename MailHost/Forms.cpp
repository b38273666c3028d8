#include "MailHost/Forms.h"

#include "Platform/ControlPlugin.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Shared/ContactRecords.h"
#include "Shared/Protocol.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace kv::host {

namespace {
const QString StandardPages[] = {u"General"_s,      u"Details"_s,    u"Activities"_s,
                                 u"Certificates"_s, u"All Fields"_s, u"Message"_s};
constexpr int FormWidth = 620;
constexpr int FormHeight = 520;
const QString XdgEmail = u"xdg-email"_s;
constexpr int MinPort = 1;
constexpr int MaxPort = 65535;
const QString InvalidFieldStyle = u"color: red"_s;

// What assistive technology calls the forms' fields and says they hold.
constexpr QStringView PagesName = u"Pages";
constexpr QStringView PagesDescription = u"The form's pages";
constexpr QStringView BodyName = u"Text";
constexpr QStringView BodyDescription = u"The item's text";
constexpr QStringView ContactFields = u"The contact's";
constexpr QStringView MessageFields = u"The message's";
constexpr QStringView ComputerDescription = u"The address or computer name the chat control calls";
constexpr QStringView PortDescription = u"The port the chat control calls";
constexpr QStringView AttachmentsName = u"Attachments";
constexpr QStringView ReceivedAttachmentsDescription =
    u"The files that came with the message; Enter opens one";
constexpr QStringView SentAttachmentsDescription = u"The files sent with the message";

// Each field of the rows is called by its label and, unless described
// already, described as the item's field of that name.
void NameRows(const QFormLayout* form, QStringView whose)
{
    for (int row = 0; row < form->rowCount(); ++row) {
        const QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
        const QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
        auto* caption = label ? qobject_cast<QLabel*>(label->widget()) : nullptr;
        if (!caption || !field || !field->widget()) continue;
        const QString name = caption->text().remove(u':').remove(u"..."_s).trimmed();
        field->widget()->setAccessibleName(name);
        if (field->widget()->accessibleDescription().isEmpty())
            field->widget()->setAccessibleDescription(whose.toString() + u' ' + name.toLower());
    }
}

bool isContactClass(const QString& cls)
{
    return cls.startsWith(u"IPM.Contact"_s, Qt::CaseInsensitive);
}
} // namespace

// ---------------------------------------------------------------- base

InspectorWindow* InspectorWindow::create(HostInspector* inspector)
{
    const Item& item = inspector->item();
    const QString cls = item.MessageClass();
    if (isContactClass(cls)) return new ContactForm(inspector);
    if (cls.compare(KivaraMessageClass.toString(), Qt::CaseInsensitive) == 0 || !item.EntryID().isEmpty())
        return new MessageForm(inspector);
    return new MailWindow(inspector);
}

InspectorWindow::InspectorWindow(HostInspector* inspector, const QString& pageTitle) : m_inspector(inspector)
{
    setObjectName(u"frmInspector"_s);
    setWindowTitle(pageTitle + u" - "_s + HostTitle.toString());
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(u"tabPages"_s);
    m_tabs->setDocumentMode(true);
    m_tabs->setAccessibleName(PagesName.toString());
    m_tabs->setAccessibleDescription(PagesDescription.toString());
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_tabs);
    setCentralWidget(central);
    resize(FormWidth, FormHeight);
}

InspectorWindow::~InspectorWindow() = default;

QWidget* InspectorWindow::addPage(const QString& name, QWidget* page)
{
    page->setObjectName(u"page"_s + QString(name).remove(u' '));
    m_tabs->addTab(page, name);
    return page;
}

QLineEdit* InspectorWindow::memberField(const QString& member, bool readOnly)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(u"txt"_s + member);
    edit->setText(m_inspector->item().GetMember(member).toString());
    edit->setReadOnly(readOnly);
    if (!readOnly) {
        const Item item = m_inspector->item();
        connect(edit, &QLineEdit::textEdited, this, [item, member](const QString& text) { item.SetMember(member, text); });
    }
    return edit;
}

QPlainTextEdit* InspectorWindow::bodyField(bool readOnly)
{
    auto* edit = new QPlainTextEdit;
    edit->setObjectName(u"txtBody"_s);
    edit->setAccessibleName(BodyName.toString());
    edit->setAccessibleDescription(BodyDescription.toString());
    edit->setPlainText(m_inspector->item().Body());
    edit->setReadOnly(readOnly);
    if (!readOnly) {
        const Item item = m_inspector->item();
        connect(edit, &QPlainTextEdit::textChanged, this, [item, edit] {
            if (edit->toPlainText() != item.Body()) item.setBody(edit->toPlainText());
        });
    }
    return edit;
}

QAction* InspectorWindow::toolAction(QStyle::StandardPixmap icon, const QString& text, const QString& name)
{
    if (!m_toolBar) {
        m_toolBar = addToolBar(u"Standard"_s);
        m_toolBar->setObjectName(u"tbrStandard"_s);
        m_toolBar->setMovable(false);
        m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    QAction* action = m_toolBar->addAction(style()->standardIcon(icon), text);
    action->setObjectName(name);
    return action;
}

bool InspectorWindow::setCurrentPage(const QString& name)
{
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (m_tabs->tabText(i).compare(name, Qt::CaseInsensitive) == 0) {
            m_tabs->setCurrentIndex(i);
            return true;
        }
    }
    for (const QString& s : StandardPages)
        if (s.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

QString InspectorWindow::currentPage() const
{
    return m_tabs->count() ? m_tabs->tabText(m_tabs->currentIndex()) : QString();
}

void InspectorWindow::saveAndClose()
{
    m_inspector->Close(olSave);
}

void InspectorWindow::closeEvent(QCloseEvent* event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    // The user closes the window: the inspector decides what happens to the item.
    event->ignore();
    const Item item = m_inspector->item();
    if (!item.Saved()) {
        const platform::MsgResult r =
            platform::MsgBox(SaveChangesText.toString(), platform::MsgButtons::YesNoCancel,
                             platform::MsgIcon::Exclamation, HostTitle.toString());
        if (r == platform::MsgResult::Cancel) return;
        if (r == platform::MsgResult::Yes) {
            if (!m_inspector->Close(olSave))
                platform::MsgBox(Err().Description, platform::MsgButtons::OK, platform::MsgIcon::Critical,
                                 HostTitle.toString());
            return;
        }
    }
    m_inspector->Close(olDiscard);
}

void InspectorWindow::changeEvent(QEvent* event)
{
    // Once closing, the inspector may already be gone.
    if (!m_closing && event->type() == QEvent::ActivationChange && isActiveWindow()) m_inspector->activated();
    QMainWindow::changeEvent(event);
}

// ---------------------------------------------------------------- contact form

ContactForm::ContactForm(HostInspector* inspector)
    : InspectorWindow(inspector, inspector->item().FullName().isEmpty() ? u"Untitled - Contact"_s
                                                                        : inspector->item().FullName())
{
    setObjectName(u"frmContact"_s);
    QAction* save = toolAction(QStyle::SP_DialogSaveButton, u"&Save and Close"_s, u"cmdSaveClose"_s);
    connect(save, &QAction::triggered, this, &ContactForm::saveAndClose);

    auto* general = new QWidget;
    auto* form = new QFormLayout(general);
    form->setLabelAlignment(Qt::AlignRight);
    form->addRow(u"Full Name:"_s, memberField(u"FullName"_s));
    form->addRow(u"File As:"_s, memberField(u"FileAs"_s));
    form->addRow(u"Company:"_s, memberField(u"CompanyName"_s));
    form->addRow(u"E-mail:"_s, memberField(u"Email1Address"_s));
    form->addRow(u"City:"_s, memberField(u"BusinessAddressCity"_s));
    form->addRow(u"State/Province:"_s, memberField(u"BusinessAddressState"_s));
    form->addRow(u"Country:"_s, memberField(u"BusinessAddressCountry"_s));
    form->addRow(u"Nickname:"_s, memberField(u"NickName"_s));
    const bool kivara =
        inspector->item().MessageClass().compare(KivaraContactClass.toString(), Qt::CaseInsensitive) == 0;
    if (kivara) addCallTarget(form);
    form->addRow(u"Notes:"_s, bodyField());
    NameRows(form, ContactFields);
    addPage(GeneralPageName.toString(), general);

    if (kivara) buildKivaraPage();
}

// The Kivara form's own fields: whom the chat control calls. They live in the
// item's user properties, so a contact typed by hand can be called, and one
// stored from an earlier call can be called again.
void ContactForm::addCallTarget(QFormLayout* form)
{
    const UserProperties props = m_inspector->item().UserProperties();
    const UserProperty host = props.Find(contactprop::LocalHost.toString());
    const UserProperty port = props.Find(contactprop::LocalPort.toString());
    m_computer = new QLineEdit(host ? host.Value().toString() : QString());
    m_computer->setObjectName(u"txtComputer"_s);
    const int stored = port ? port.Value().toInt() : 0;
    m_port = new QLineEdit(QString::number(stored >= MinPort && stored <= MaxPort ? stored : ChatDatagramPort));
    m_port->setObjectName(u"txtPort"_s);
    m_computer->setAccessibleDescription(ComputerDescription.toString());
    m_port->setAccessibleDescription(PortDescription.toString());
    m_port->setValidator(new QIntValidator(MinPort, MaxPort, m_port));
    connect(m_computer, &QLineEdit::textEdited, this, [this, host](const QString& text) {
        if (host) host.setValue(text.trimmed());
        aimControl();
    });
    connect(m_port, &QLineEdit::textEdited, this, [this, port] {
        // A port out of range stays in sight as typed, but is neither kept nor dialled.
        const bool valid = m_port->hasAcceptableInput();
        m_port->setStyleSheet(valid ? QString() : InvalidFieldStyle);
        if (!valid) return;
        if (port) port.setValue(m_port->text().toInt());
        aimControl();
    });
    form->addRow(ComputerLabel.toString(), m_computer);
    form->addRow(PortLabel.toString(), m_port);
}

void ContactForm::aimControl()
{
    if (!m_control) return;
    CallByName(m_control, u"RemoteHost"_s, VbLet, {m_computer->text().trimmed()});
    if (m_port->hasAcceptableInput()) CallByName(m_control, u"RemotePort"_s, VbLet, {m_port->text().toInt()});
    ClearErr();
}

// The role of the Kivara contact form's script: create the chat control on
// the page "Kivara", give it this inspector and start its session.
void ContactForm::buildKivaraPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto formPage = std::make_shared<HostFormPage>();
    m_custom.insert(KivaraPageName.toString(), formPage);
    addPage(KivaraPageName.toString(), page);

    QString why;
    QWidget* control =
        platform::CreateControl(KivaraControlClass.toString(), page, &why, m_inspector->controlFolder());
    if (!control) {
        auto* missing = new QLabel(ControlMissingText.toString().arg(KivaraControlClass.toString()), page);
        missing->setObjectName(u"lblMissingControl"_s);
        missing->setAlignment(Qt::AlignCenter);
        missing->setWordWrap(true);
        missing->setToolTip(why);
        layout->addWidget(missing);
        return;
    }
    control->setObjectName(KivaraControlName.toString());
    layout->addWidget(control);
    formPage->addControl(KivaraControlName.toString(), control);
    CallByName(control, u"objParent"_s, VbLet, {QVariant::fromValue<QObject*>(m_inspector->automationObject())});
    CallByName(control, u"ChatInit"_s, VbMethod);
    m_control = control;
    aimControl();
}

// ---------------------------------------------------------------- message form

MessageForm::MessageForm(HostInspector* inspector)
    : InspectorWindow(inspector, inspector->item().Subject().isEmpty() ? u"(no subject)"_s
                                                                       : inspector->item().Subject())
{
    setObjectName(u"frmMessage"_s);
    QAction* close = toolAction(QStyle::SP_DialogCloseButton, u"&Close"_s, u"cmdClose"_s);
    connect(close, &QAction::triggered, this, [this] { m_inspector->Close(olDiscard); });

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* header = new QFormLayout;
    header->setLabelAlignment(Qt::AlignRight);
    header->addRow(u"From:"_s, memberField(u"SentOnBehalfOfName"_s, true));
    header->addRow(u"Subject:"_s, memberField(u"Subject"_s, true));
    NameRows(header, MessageFields);
    layout->addLayout(header);
    layout->addWidget(bodyField(true), 1);
    m_attachments = new QListWidget;
    m_attachments->setObjectName(u"lstAttachments"_s);
    m_attachments->setAccessibleName(AttachmentsName.toString());
    m_attachments->setAccessibleDescription(ReceivedAttachmentsDescription.toString());
    m_attachments->setFlow(QListView::LeftToRight);
    m_attachments->setMaximumHeight(56);
    m_attachments->setIconSize(QSize(24, 24));
    const Attachments atts = inspector->item().Attachments();
    for (int i = 1; i <= atts.Count(); ++i) {
        auto* row = new QListWidgetItem(style()->standardIcon(QStyle::SP_FileIcon), atts.Item(i).DisplayName());
        row->setData(Qt::UserRole, i);
        m_attachments->addItem(row);
    }
    m_attachments->setVisible(m_attachments->count() > 0);
    connect(m_attachments, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* row) { openAttachment(row->data(Qt::UserRole).toInt()); });
    layout->addWidget(m_attachments);
    addPage(u"Message"_s, page);
    ClearErr();
}

void MessageForm::opened()
{
    // Opening a message marks it read.
    const Item item = m_inspector->item();
    const UserProperty read = item.UserProperties().Find(MsgReadProperty.toString());
    if (read && !read.Value().toBool()) {
        read.setValue(true);
        if (!item.EntryID().isEmpty()) item.Save();
    }
    ClearErr();
}

void MessageForm::openAttachment(int index)
{
    const QString path = SaveAttachmentForOpening(m_inspector->item().Attachments().Item(index));
    if (!path.isEmpty()) platform::Shell::current().open(path);
}

QString SaveAttachmentForOpening(const Attachment& attachment)
{
    if (!attachment) return {};
    QString name = QFileInfo(attachment.FileName().isEmpty() ? attachment.DisplayName() : attachment.FileName())
                       .fileName();
    if (name.isEmpty() || name == u"."_s || name == u".."_s) name = u"attachment"_s;
    // A folder of its own per attachment, so that names from the mail cannot collide or escape.
    const QString base = PrivateTempFolder();
    if (base.isEmpty()) return {};
    QDir dir(base);
    QString sub;
    for (int n = 1; n < 10000; ++n) {
        sub = u"att%1"_s.arg(n);
        if (!dir.exists(sub)) break;
    }
    if (!dir.mkdir(sub)) return {};
    const QString path = dir.filePath(sub) + u'/' + name;
    return attachment.SaveAsFile(path) ? path : QString();
}

// ---------------------------------------------------------------- mail window

MailWindow::MailWindow(HostInspector* inspector)
    : InspectorWindow(inspector,
                      inspector->item().Subject().isEmpty() ? u"Untitled - Message"_s : inspector->item().Subject())
{
    setObjectName(u"frmMail"_s);
    connect(toolAction(QStyle::SP_ArrowForward, u"&Send"_s, u"cmdSend"_s), &QAction::triggered, this,
            &MailWindow::send);
    QAction* attach = toolAction(QStyle::SP_FileIcon, u"&Attach File..."_s, u"cmdAttach"_s);
    connect(attach, &QAction::triggered, this, &MailWindow::attachFiles);

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* header = new QFormLayout;
    header->setLabelAlignment(Qt::AlignRight);
    m_to = new QLineEdit;
    m_to->setObjectName(u"txtTo"_s);
    QStringList names;
    const Recipients recips = inspector->item().Recipients();
    for (int i = 1; i <= recips.Count(); ++i) {
        const Recipient r = recips.Item(i);
        names.append(r.Address().isEmpty() ? r.Name() : r.Address());
    }
    m_to->setText(names.join(u"; "_s));
    header->addRow(u"To..."_s, m_to);
    header->addRow(u"Subject:"_s, memberField(u"Subject"_s));
    NameRows(header, MessageFields);
    layout->addLayout(header);
    layout->addWidget(bodyField(), 1);
    m_attachments = new QListWidget;
    m_attachments->setObjectName(u"lstAttachments"_s);
    m_attachments->setAccessibleName(AttachmentsName.toString());
    m_attachments->setAccessibleDescription(SentAttachmentsDescription.toString());
    m_attachments->setFlow(QListView::LeftToRight);
    m_attachments->setMaximumHeight(56);
    layout->addWidget(m_attachments);
    refreshAttachments();
    addPage(u"Message"_s, page);
    ClearErr();
}

void MailWindow::refreshAttachments()
{
    m_attachments->clear();
    const Attachments atts = m_inspector->item().Attachments();
    for (int i = 1; i <= atts.Count(); ++i)
        m_attachments->addItem(new QListWidgetItem(style()->standardIcon(QStyle::SP_FileIcon),
                                                   atts.Item(i).DisplayName()));
    m_attachments->setVisible(m_attachments->count() > 0);
}

void MailWindow::attachFiles()
{
    platform::FileDialogRequest req;
    req.title = u"Insert File"_s;
    req.filter = u"All Files (*.*)|*"_s;
    const QStringList files = platform::Prompt::current().openFiles(req);
    for (const QString& f : files)
        m_inspector->item().Attachments().Add(f);
    refreshAttachments();
}

bool MailWindow::send()
{
    const Item item = m_inspector->item();
    QStringList to;
    for (const QString& r : m_to->text().split(u';', Qt::SkipEmptyParts))
        if (!r.trimmed().isEmpty()) to.append(r.trimmed());
    for (const QString& r : to)
        if (!item.Recipients().Add(r)) break;
    const QString client = QStandardPaths::findExecutable(XdgEmail);
    if (!client.isEmpty()) {
        QStringList args{u"--utf8"_s};
        if (!item.Subject().isEmpty()) args << u"--subject"_s << item.Subject();
        if (!item.Body().isEmpty()) args << u"--body"_s << item.Body();
        const Attachments atts = item.Attachments();
        for (int i = 1; i <= atts.Count(); ++i) {
            const QString path = SaveAttachmentForOpening(atts.Item(i));
            if (!path.isEmpty()) args << u"--attach"_s << path;
        }
        args << to;
        if (platform::Shell::current().start(client, args)) {
            m_inspector->Close(olDiscard);
            return true;
        }
    }
    // No mail client: keep it in "Outbox", and say so.
    const Folders stores = m_inspector->application().GetNamespace(u"MAPI"_s).Folders();
    MAPIFolder store = stores.Item(PersonalFoldersName.toString());
    if (!store) store = stores.Item(1);
    MAPIFolder outbox = store.Folders().Item(OutboxFolderName.toString());
    if (!outbox) outbox = store.Folders().Add(OutboxFolderName.toString(), olFolderInbox);
    if (!outbox || !item.Move(outbox)) {
        platform::MsgBox(Err().Description, platform::MsgButtons::OK, platform::MsgIcon::Critical,
                         HostTitle.toString());
        return false;
    }
    platform::MsgBox(OutboxText.toString(), platform::MsgButtons::OK, platform::MsgIcon::Information,
                     HostTitle.toString());
    m_inspector->Close(olDiscard);
    return true;
}

} // namespace kv::host
