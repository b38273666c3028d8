#include "Control/Kivara.h"

#include "Control/FileDrop.h"
#include "Control/Icons.h"
#include "Control/KivaraUi.h"
#include "Control/Layout.h"
#include "Control/Session/ChatName.h"
#include "Control/Session/FanOut.h"
#include "Control/Session/FileSend.h"
#include "Control/Session/MessageEntry.h"
#include "Control/Transcript.h"
#include "Control/TranscriptExport.h"
#include "Control/frmOptions.h"
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Socket.h"
#include "Platform/Sound.h"
#include "Shared/PeerslipMail.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "ui_Kivara.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPrinter>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace kv::control {

using namespace kivaraui;


// ---- Lifecycle ---------------------------------------------------------------

Kivara::Kivara(QWidget* parent, const KivaraTimings& timings)
    : QWidget(parent), ui(std::make_unique<Ui::Kivara>()),
      m_session(std::make_unique<ChatSession>(static_cast<SessionView&>(*this), timings))
{
    ui->setupUi(this);
    setWindowIcon(ProductIcon());
    connect(m_session.get(), &ChatSession::callStatusChanged, this,
            [this](CallState state) { Q_EMIT CallStatus(short(state)); });
    m_fileDrop = new FileDrop(
        [this](const QString& name, const QString& path) { DataSend(mode::FilePrep, name, path); }, this);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &Kivara::CancelCall);
    ui->txtSend->installEventFilter(this);
    ui->txtSend->viewport()->installEventFilter(this);
    ui->txtSend->setContextMenuPolicy(Qt::NoContextMenu);
    ui->picSplit->setStretchFactor(0, 3);
    ui->picSplit->setStretchFactor(1, 1);
    m_layout = new LayoutKeeper(this, ui->picSplit);

    buildMenus();
    buildStatusBar();
    Initialize();
}

Kivara::~Kivara()
{
    // The session ends while its view is still whole: leaving sends, and may show, what it must.
    m_session->end();
    m_objParent = nullptr;
    m_inspector.reset();
    if (m_busy) QApplication::restoreOverrideCursor();
    // The rooms go before the widgets that show them.
    for (const RoomView& view : m_roomViews)
        detachRoomView(view);
    ChatSession::release(std::move(m_session));
}

void Kivara::detachRoomView(const RoomView& view)
{
    view.list->setModel(nullptr);
    view.transcript->setDocument(nullptr);
}

void Kivara::Initialize()
{
    // Status-bar panels are made in buildStatusBar; the public room's transcript and list here.
    roomOpened(0);
    SwitchRoom(0);
    rooms().currentTag = PublicTag.toString();
    if (QAction* floppy = item(m_mnuSendTo, 0))
        floppy->setText(u"3"_s + QChar(189) + text::FloppyCaptionEnd.toString());
    showPanel(2, availability::Available.toString(), picture::Available.toString());
}

outlook::Item Kivara::shownItem() const
{
    if (m_inspector) return m_inspector->CurrentItem();
    // A host that reaches the control by name hands it the form's item through objParent.
    QVariant item;
    if (m_objParent && QMetaObject::invokeMethod(m_objParent, "CurrentItem", Q_RETURN_ARG(QVariant, item)))
        return item.value<outlook::Item>();
    return {};
}

bool Kivara::CloseParentForm()
{
    if (m_inspector) return m_inspector->Close(outlook::olSave);
    if (m_objParent) return QMetaObject::invokeMethod(m_objParent, "Close", Q_ARG(int, outlook::olSave));
    return false;
}

// ---- Widgets -----------------------------------------------------------------

void Kivara::buildStatusBar()
{
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QWidget(ui->sbrMain);
        panel->setObjectName(u"sbrPanel_"_s + QString::number(i + 1));
        auto* lay = new QHBoxLayout(panel);
        lay->setContentsMargins(4, 0, 4, 0);
        lay->setSpacing(4);
        m_panelPicture[i] = new QLabel(panel);
        m_panelPicture[i]->setObjectName(u"imgPanel_"_s + QString::number(i + 1));
        m_panelPicture[i]->setFixedSize(16, 16);
        m_panelPicture[i]->setVisible(i > 0);
        m_panelText[i] = new QLabel(panel);
        m_panelText[i]->setObjectName(u"lblPanel_"_s + QString::number(i + 1));
        lay->addWidget(m_panelPicture[i]);
        lay->addWidget(m_panelText[i], 1);
        if (i == 0)
            ui->sbrMain->addWidget(panel, 1);
        else
            ui->sbrMain->addPermanentWidget(panel);
        if (i == 1) {
            panel->setCursor(Qt::PointingHandCursor);
            panel->setToolTip(u"Click to change your availability"_s);
            panel->installEventFilter(this);
        }
    }
}

void Kivara::showPanel(int panel, const QString& text, const QString& picture)
{
    if (panel < 1 || panel > 3) return;
    const int i = panel - 1;
    m_panelText[i]->setText(text);
    if (!picture.isNull()) {
        m_panelPictureName[i] = picture;
        m_panelPicture[i]->setPixmap(StatusPicture(picture));
    }
}

void Kivara::showCallStatus(CallState state, const QString& text)
{
    QAction* callItem = item(m_mnuFile, 0);
    switch (state) {
    case CallState::Idle:
        // A file offer or transfer outlives the call; so does its cancel.
        ui->cmdCancel->setVisible(m_session->fileSend().busy());
        showPanel(1, PublicRoomCaption.toString());
        showPanel(3, text::WaitingForCall.toString(), picture::Waiting.toString());
        callItem->setText(text::PlaceCall.toString());
        break;
    case CallState::WaitingToEnter:
        showPanel(1, u"Waiting to enter "_s + text + u"'s Public room..."_s);
        break;
    case CallState::Calling:
        showCancel(true);
        showPanel(1, u"Calling "_s + text + u"..."_s);
        showPanel(3, text::Connecting.toString(), picture::Connected.toString());
        break;
    case CallState::Connected:
        ui->cmdCancel->setVisible(m_session->fileSend().busy());
        showPanel(3, text::Connected.toString(), picture::Connected.toString());
        callItem->setText(text::EndCall.toString());
        break;
    case CallState::Incoming:
        showPanel(1, u"Incoming call from "_s + text + u"..."_s);
        break;
    default:
        break;
    }
}

void Kivara::showOffline()
{
    showPanel(1, text::NoNetworkPanel.toString());
    showPanel(3, text::Offline.toString(), picture::Offline.toString());
    item(m_mnuFile, 0)->setText(text::PlaceCall.toString());
}

void Kivara::showAvailability(const QString& status)
{
    int checkedIndex = -1;
    const QList<QAction*> items = m_mnuStatus->actions();
    for (QAction* item : items) {
        item->setCheckable(!item->isSeparator());
        item->setChecked(false);
    }
    for (int i = 0; i < items.size(); ++i) {
        if (!items[i]->isSeparator() && items[i]->text() == status) {
            items[i]->setChecked(true);
            checkedIndex = i;
            break;
        }
    }
    showPanel(2, status, checkedIndex == 0 ? picture::Available.toString() : picture::Away.toString());
}

void Kivara::playSound(const QString& file)
{
    platform::Sound::current().play(file);
}

void Kivara::beep()
{
    platform::Sound::current().beep();
}

void Kivara::showCancel(bool visible)
{
    ui->cmdCancel->setVisible(visible);
    if (visible) ui->cmdCancel->raise();
}

void Kivara::showBusy(bool busy)
{
    if (busy == m_busy) return;
    m_busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

std::optional<short> Kivara::execEntryDialog(int dialogMode, const QString& party, LeftMessage* message)
{
    QPointer<Kivara> self(this);
    auto* dialog = new frmEntry(timings().admissionRingMs, timings().admissionRefuseMs, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->setMode(frmEntry::Mode(dialogMode));
    dialog->setSender(party);
    QPointer<frmEntry> guard(dialog);
    QPointer<frmEntry> previous = m_entry;
    m_entry = dialog;
    platform::Prompt::current().formShown(dialog);
    dialog->exec();
    // Gone with the control, or closed by someone else: nothing was chosen.
    if (!self || !guard) return std::nullopt;
    const short choice = dialog->selection();
    if (message) *message = LeftMessage{dialog->subject(), dialog->body()};
    dialog->unload();
    m_entry = previous;
    // Gone at once: an entering dialog's caption must not keep the next call of this caller out.
    delete dialog;
    // Keys go on to the message box, not to whatever had the focus before the dialog.
    focusEntry();
    return choice;
}

std::optional<short> Kivara::askAdmission(const QString& caller)
{
    // One dialog per caller: a repeated HELLO while it is open stops here.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == frmEntry::captionFor(caller) && qobject_cast<frmEntry*>(w))
            return std::nullopt;
    return execEntryDialog(frmEntry::Entering, caller, nullptr);
}

void Kivara::closeAdmissionOf(const QString& caller)
{
    if (m_entry && m_entry->mode() == frmEntry::Entering && m_entry->sender() == caller) {
        m_entry->setSelection(ChoiceGaveUp);
        m_entry->press(0);
    }
}

std::optional<LeftMessage> Kivara::askLeftMessage(const QString& callee)
{
    LeftMessage left;
    if (execEntryDialog(frmEntry::Message, callee, &left) != ChoiceMessage) return std::nullopt;
    return left;
}

QString Kivara::panelText(int panel) const
{
    return panel >= 1 && panel <= 3 ? m_panelText[panel - 1]->text() : QString();
}

QString Kivara::panelPicture(int panel) const
{
    return panel >= 1 && panel <= 3 ? m_panelPictureName[panel - 1] : QString();
}

void Kivara::focusEntry()
{
    if (ui->txtSend->isVisible()) ui->txtSend->setFocus();
}

// ---- Session start -------------------------------------------------------------

int Kivara::ChatInit()
{
    m_session->prepare();
    // Profile, created on first use. Bound: a dialog that reports success
    // while the profile still reads incomplete is not shown more than this often.
    constexpr int MaxProfileRounds = 5;
    bool haveProfile = m_session->loadProfile();
    for (int round = 0; !haveProfile && round < MaxProfileRounds; ++round) {
        const QString answer = frmOptions::Run(frmOptions::Mode::NewUser, Socket::LocalIP(), this);
        if (answer != frmOptions::Success.toString()) break;
        MsgBox(text::ProfileCreated.toString(), MsgButtons::OK, MsgIcon::Information);
        haveProfile = m_session->loadProfile();
    }
    m_session->profileReady(haveProfile);
    if (haveProfile) {
        RefreshSettings();
        m_session->SetCallStatus(CallState::Idle);
        m_session->keepAddressCurrent();
    } else {
        m_session->SetCallStatus(CallState::NoProfile);
        MsgBox(text::ProfileNotFound.toString(), MsgButtons::OK, MsgIcon::Information);
    }
    return m_session->openPorts();
}

int Kivara::RefreshSettings()
{
    if (m_session->profileLoaded() && !profile().ChatName.isEmpty()) {
        // 1. Own rows in every room
        m_session->reloadProfile();
        // 2. Availability
        const QString checked = [this] {
            for (QAction* a : m_mnuStatus->actions())
                if (a->isChecked()) return a->text();
            return QString();
        }();
        if (!profile().UserStatus.isEmpty() && profile().UserStatus != checked)
            SetStatus(profile().UserStatus);
        // 3. Chat name
        m_session->announceChatName();
    }
    // 4. Fonts
    applyFonts();
    // 5. Colours and sounds
    m_session->readPreferences();
    ui->txtSend->setTextColor(state().myColor);
    // 6. View settings
    ui->sbrMain->setVisible(ReadSetting(Deliverable::Quillon, settings::StatusBar) == u"1"_s);
    const bool showUsers = ReadSetting(Deliverable::Quillon, settings::ShowUsers) == u"1"_s;
    ui->stkLists->setVisible(showUsers);
    for (const RoomView& view : m_roomViews)
        view.list->setVisible(showUsers);
    m_layout->relayout();
    // 7. Announce
    if (m_session->profileLoaded() && !profile().ChatName.isEmpty()) DataSend(mode::Update);
    return 0;
}

void Kivara::applyFonts()
{
    QFont font = ui->txtSend->font();
    font.setFamily(ReadSetting(Deliverable::Quillon, settings::FontName));
    const int size = ReadSetting(Deliverable::Quillon, settings::FontSize).toInt();
    if (size > 0) font.setPointSize(size);
    for (const RoomView& view : m_roomViews) {
        view.transcript->setFont(font);
        view.transcript->document()->setDefaultFont(font);
        view.transcript->moveCursor(QTextCursor::End);
        view.list->setFont(font);
    }
    ui->txtSend->setFont(font);
}

// ---- Call state display --------------------------------------------------------

// ---- Network -------------------------------------------------------------------

// ---- Members of the interface ----------------------------------------------------

int Kivara::EMailContact(const QString& sRecipients)
{
    return MailPeerslip(m_session->store(), sRecipients);
}

QString Kivara::PeerslipFile() const
{
    return m_session->profileLoaded() ? PeerslipPath(profile().ChatName) : QString();
}

void Kivara::ShowAbout()
{
    openOptions(int(frmOptions::Mode::About));
}

void Kivara::openOptions(int dialogMode)
{
    QPointer<Kivara> self(this);
    frmOptions::Run(frmOptions::Mode(dialogMode), Socket::LocalIP(), this,
                    [self](const QString& name) { return self && self->m_session->refuseChatName(name); });
    if (!self) return;
    RefreshSettings();
    focusEntry();
}

int Kivara::SendSession(const QString& sRecipients, const QString& sFileName)
{
    return MailTranscript(sRecipients, sFileName);
}

int Kivara::SaveSession(QString sFileName, bool bPrompt)
{
    return SaveTranscript(*roomView(rooms().current).transcript, m_lastSavedPath, sFileName, bPrompt);
}

QPrinter& Kivara::printer()
{
    if (!m_printer) m_printer = std::make_unique<QPrinter>();
    return *m_printer;
}

void Kivara::setAppearance(short n)
{
    m_appearance = n;
    ui->linBorder_0->setVisible(n != 0);
    ui->linBorder_1->setVisible(n != 0);
}

// ---- Menus ---------------------------------------------------------------------

// ---- Message entry ---------------------------------------------------------------

void Kivara::SendEntry()
{
    const QString entry = ui->txtSend->toPlainText();
    if (entry.isEmpty()) {
        platform::Sound::current().beep();
        ui->txtSend->clear();
        return;
    }
    ui->txtSend->clear();
    if (RunCommandLine(entry)) return;
    DataSend(rooms().current == 0 ? mode::PubChat : mode::PriChat, entry);
}

// ---- Events --------------------------------------------------------------------

bool Kivara::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->txtSend || watched == ui->txtSend->viewport()) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                SendEntry();
                return true;
            }
        } else if (event->type() == QEvent::MouseButtonRelease &&
                   static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
            const bool selected = ui->txtSend->textCursor().hasSelection();
            item(m_mnuSendEdit, 0)->setEnabled(selected);
            item(m_mnuSendEdit, 1)->setEnabled(selected);
            item(m_mnuSendEdit, 4)->setEnabled(selected);
            item(m_mnuSendEdit, 2)->setEnabled(!QApplication::clipboard()->text().isEmpty());
            m_mnuSendEdit->popup(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            return true;
        }
        return false;
    }
    if (watched == m_panelText[1]->parentWidget() && event->type() == QEvent::MouseButtonRelease) {
        m_mnuStatus->popup(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return true;
    }
    // The participant lists and room buttons open their menus from the keyboard too.
    if (KeyboardContextMenu(watched, event)) return true;
    if (auto* button = qobject_cast<QPushButton*>(watched)) {
        int k = -1;
        for (size_t i = 0; i < m_roomViews.size(); ++i)
            if (m_roomViews[i].button == button) k = int(i);
        if (k < 0 || !rooms().valid(k)) return false;
        const bool rightClick = event->type() == QEvent::MouseButtonRelease &&
                                static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton;
        if (rightClick || event->type() == QEvent::ContextMenu) {
            if (button->text() != PublicRoomCaption.toString()) {
                rooms().menuTag = rooms().at(k).tag;
                m_mnuPrivate->popup(rightClick ? static_cast<QMouseEvent*>(event)->globalPosition().toPoint()
                                               : static_cast<QContextMenuEvent*>(event)->globalPos());
            }
            return true;
        }
        if (event->type() == QEvent::DragEnter) {
            auto* drag = static_cast<QDragEnterEvent*>(event);
            if (drag->source() == currentList()) drag->acceptProposedAction();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const Participant p = selectedRow();
            if (drop->source() == currentList() && !p.isNull()) {
                drop->acceptProposedAction();
                DropParticipantOnRoom(k, p.name());
            }
            return true;
        }
        return false;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kv::control
