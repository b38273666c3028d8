#include "Vigilo/Monitor/frmTray.h"
#include "ui_frmTray.h"

#include "Shared/Installed.h"
#include "Shared/PeerslipMail.h"
#include "Vigilo/Monitor/CommandLine.h"
#include "Vigilo/Monitor/MonitorStore.h"
#include "Vigilo/Monitor/frmOptions.h"
#include "Vigilo/Monitor/modTray.h"

#include "Platform/LauncherBadge.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Socket.h"
#include "Platform/Sound.h"
#include "Shared/Protocol.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScopedValueRollback>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <utility>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;

namespace {

// Rows of the availability combo; the third is a separator.
constexpr int SeparatorRow = 2;
constexpr int BeRightBackRow = 3;
constexpr int AvailabilityRowCount = 7;

// Entries of the pop-up menu.
namespace mnu {
constexpr int Monitor = 0, Contacts = 1, Messages = 2, Availability = 4, Options = 5, Mute = 7,
              DisplayOnCall = 8, Exit = 10, Count = 11;
} // namespace mnu

bool IsOn(const QString& flag)
{
    return flag.trimmed().toInt() != 0;
}

} // namespace

QStringList AvailabilityRows()
{
    return {traytext::Available.toString(),
            traytext::Unavailable.toString(),
            traytext::Separator.toString(),
            traytext::BeRightBack.toString(),
            u"On the Phone"_s,
            u"Stepped Out"_s,
            traytext::OutOfOffice.toString()};
}

int AvailabilityRow(const QString& text)
{
    const QStringList rows = AvailabilityRows();
    for (int row = 0; row < rows.size(); ++row) {
        if (row != SeparatorRow && rows[row] == text) return row;
    }
    return 0;
}

frmTray::frmTray(const MonitorTimings& timings, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmTray>()), m_timings(timings),
      m_store(std::make_unique<MonitorStore>()),
      m_port(std::make_unique<CallPort>(*m_store, static_cast<CallPortWindow&>(*this), timings.ringMs)),
      m_profile(m_port->profile())
{
    ui->setupUi(this);
    setWindowTitle(traytext::Title.toString());
    m_tray = std::make_unique<modTray>(*m_store, this);

    m_wskConnect = new Socket(Socket::Protocol::Tcp, this);
    m_wskConnect->setObjectName(u"wskConnect"_s);
    m_tmrConnect = new QTimer(this);
    m_tmrConnect->setObjectName(u"tmrConnect"_s);
    m_tmrConnect->setInterval(m_timings.pollMs);
    connect(m_tmrConnect, &QTimer::timeout, this, &frmTray::Poll);

    buildMenu();

    m_imgOptions = {ui->imgOptions_0, ui->imgOptions_1, ui->imgOptions_2, ui->imgOptions_3};
    for (int i = 0; i < m_imgOptions.size(); ++i) {
        m_imgOptions[i]->setPixmap(OptionPicture(this, i));
        m_imgOptions[i]->setMouseTracking(true);
        m_imgOptions[i]->installEventFilter(this);
    }
    hoverOption(-1);
    ui->picOptions->setMouseTracking(true);
    ui->picOptions->installEventFilter(this);
    ui->lblMessages_0->installEventFilter(this);
    ui->imgIP->setPixmap(LogoPicture());
    ui->imgIP->installEventFilter(this);

    connect(ui->cboUserName_1, &QComboBox::currentIndexChanged, this, &frmTray::onStatusCombo);
    connect(ui->cboUserName_0, &QComboBox::activated, this, [this] { onChatNameCommit(); });
    if (QLineEdit* edit = ui->cboUserName_0->lineEdit()) {
        edit->setMaxLength(profilelimit::ChatName);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::returnPressed, this, [this] {
            onChatNameCommit();
            onOkButton();
        });
    }
    connect(ui->cmdTray_0, &QPushButton::clicked, this, &frmTray::onOkButton);
    connect(ui->cmdTray_1, &QPushButton::clicked, this, &frmTray::onOkButton);

    adoptTray();
}

frmTray::~frmTray() = default;

void frmTray::setTrayProbe(std::function<bool()> probe)
{
    m_trayProbe = std::move(probe);
}

bool frmTray::adoptTray()
{
    if (m_trayIcon || !m_trayProbe()) return m_trayIcon != nullptr;
    m_trayIcon = new QSystemTrayIcon(TrayIcon(iconFamily(), m_iconIndex), this);
    m_trayIcon->setToolTip(m_tip);
    m_trayIcon->setContextMenu(m_popup);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onTrayActivated(int(reason)); });
    connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, &frmTray::noticeClicked);
    return true;
}

// Out of the way until called for: in the tray, or without one minimised on
// the desktop, where the task bar still reaches it.
void frmTray::park()
{
    if (m_trayIcon) {
        hide();
        setWindowState(windowState() | Qt::WindowMinimized);
    } else {
        showMinimized();
    }
}

bool frmTray::parked() const
{
    return !isVisible() || (!m_trayIcon && isMinimized());
}

void frmTray::buildMenu()
{
    m_popup = new QMenu(this);
    m_popup->setObjectName(u"mPopupSys"_s);
    const QStringList captions{u"Kivara &Monitor"_s,
                               u"Kivara &Contacts"_s,
                               u"Kivara M&essages"_s,
                               QString(),
                               u"&Availability"_s,
                               u"User &Profile / Options..."_s,
                               QString(),
                               u"&Mute sound"_s,
                               u"&Display on call"_s,
                               QString(),
                               u"E&xit Monitor"_s};
    m_statusMenu = new QMenu(captions[mnu::Availability], m_popup);
    m_statusMenu->setObjectName(u"mnuS"_s);
    const QStringList rows = AvailabilityRows();
    for (int i = 0; i < AvailabilityRowCount; ++i) {
        QAction* action = i == SeparatorRow ? m_statusMenu->addSeparator() : m_statusMenu->addAction(rows[i]);
        action->setObjectName(u"mnuS_%1"_s.arg(i));
        action->setCheckable(i != SeparatorRow);
        connect(action, &QAction::triggered, this, [this, i] { StatusMenuClick(i); });
        m_mnuS << action;
    }
    for (int i = 0; i < mnu::Count; ++i) {
        QAction* action = nullptr;
        if (captions[i].isEmpty())
            action = m_popup->addSeparator();
        else if (i == mnu::Availability)
            action = m_popup->addMenu(m_statusMenu);
        else
            action = m_popup->addAction(captions[i]);
        action->setObjectName(u"mnuP_%1"_s.arg(i));
        if (i == mnu::Mute || i == mnu::DisplayOnCall) action->setCheckable(true);
        if (!captions[i].isEmpty() && i != mnu::Availability)
            connect(action, &QAction::triggered, this, [this, i] { MenuClick(i); });
        m_mnuP << action;
    }
    QFont bold = m_mnuP[mnu::Monitor]->font();
    bold.setBold(true);
    m_mnuP[mnu::Monitor]->setFont(bold);
    m_popup->setDefaultAction(m_mnuP[mnu::Monitor]);
    // Beside the options, outside the numbered entries.
    addSideEntries(m_mnuP[mnu::Options + 1]);
}

bool frmTray::Load(const QString& commandLine)
{
    const double left = ReadSetting(Deliverable::Vigilo, settings::Left).toDouble();
    const double top = ReadSetting(Deliverable::Vigilo, settings::Top).toDouble();
    move(qRound(qAbs(left)), qRound(qAbs(top)));
    park();

    setTrayIcon(iconindex::Other);
    setTip(QString());
    if (m_trayIcon) m_trayIcon->show();

    m_inStatusUpdate = true;
    ui->cboUserName_1->clear();
    ui->cboUserName_1->addItems(AvailabilityRows());
    m_inStatusUpdate = false;

    if (ChatInit() != 0) {
        m_closingNoPrompt = true;
        if (!m_unloaded) unload();
        return false;
    }
    SetUpMessageTaking();
    HandleCommandLine(commandLine);

    if (IsOn(ReadSetting(Deliverable::Vigilo, settings::FirstRun))) {
        // As a URL: a file path with "#topic" would name a file that does not exist.
        QUrl help = QUrl::fromLocalFile(m_installDir + HelpPageName.toString());
        help.setFragment(QString::number(FirstRunHelpContext));
        platform::Shell::current().open(help.toString());
        startOpener(OpenKvFolder);
        WriteSetting(settings::FirstRun, u"0"_s);
    }
    return true;
}

// Once per installation: the Today page that shows the unread count, with the
// message settings that go with it stored (the chat control's own default for
// "Messages" is off). Choices the user already made are kept.
void frmTray::SetUpMessageTaking()
{
    if (m_installDir.isEmpty() ||
        !ReadKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(), QString())
             .isEmpty())
        return;
    WriteKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(),
                  TodayPageUrl(m_installDir));
    for (const auto& [spec, value] :
         {std::pair{settings::Messages, u"1"_s}, std::pair{settings::MsgFolder, u"Messages"_s},
          std::pair{settings::MsgBeep, u"1"_s}, std::pair{settings::MsgPrompt, u"0"_s}})
        if (ReadSetting(spec.subkey.toString(), spec.name.toString(), QString()).isEmpty())
            WriteSetting(spec, value);
}

void frmTray::readSettings()
{
    m_installDir = ReadSetting(Deliverable::Vigilo, settings::InstallDir);
    m_serialNum = ReadSetting(Deliverable::Vigilo, settings::SerialNum);
    m_soundOn = ReadFlag(Deliverable::Vigilo, settings::UseMonSnd);
    m_ringFile = ReadSetting(Deliverable::Vigilo, settings::MonitorSnd);
    m_autoAnswer = ReadFlag(Deliverable::Vigilo, settings::AutoAnswer);
    m_port->setAutoIgnore(ReadFlag(Deliverable::Vigilo, settings::AutoIgnore));
    m_alwaysOnTop = ReadSetting(Deliverable::Vigilo, settings::AlwaysOnTop).trimmed().toInt();
    m_mnuP[mnu::Mute]->setChecked(!m_soundOn);
    m_mnuP[mnu::DisplayOnCall]->setChecked(m_autoAnswer);
}

int frmTray::ChatInit()
{
    readSettings();

    while (LoadProfile(Deliverable::Vigilo, m_profile)) {
        ShowMonitor();
        setEnabled(false);
        MonitorFlags flags{m_soundOn, m_ringFile, m_autoAnswer, m_port->autoIgnore(), m_alwaysOnTop};
        const QString result = frmOptions::Run(true, Socket::LocalIP(), flags, *m_store, this);
        setEnabled(true);
        if (result != frmOptions::Success) {
            MsgBox(traytext::NoProfile.toString(), MsgButtons::OK, MsgIcon::Information);
            return -1;
        }
    }

    fillChatNames(0);
    ApplyStatus(m_profile.UserStatus);
    Poll();

    if (m_networkState != 0) {
        MsgBox(traytext::NoNetworkAtStart.toString(), MsgButtons::OK, MsgIcon::Information);
    } else if (m_outlookError != 0) {
        MsgBox(traytext::OutlookErrors.toString(), MsgButtons::OK, MsgIcon::Information);
        m_closingNoPrompt = true;
        unload();
        return -1;
    } else {
        ui->lblCaller->setText(traytext::WaitingForCall.toString());
    }

    if (m_port->Bind() != 0) {
        MsgBox(traytext::AlreadyRunning.toString(), MsgButtons::OK, MsgIcon::Information);
        m_closingNoPrompt = true;
        unload();
        return -1;
    }
    m_tmrConnect->start();
    return 0;
}

void frmTray::HandleCommandLine(const QString& commandLine)
{
    const std::optional<PeerslipArgument> argument = ParsePeerslipArgument(commandLine);
    if (!argument) return;
    if (argument->addOnly)
        m_tray->AddPeerslipContact(argument->path);
    else
        m_tray->CallFromPeerslip(argument->path);
}

void frmTray::fillChatNames(int selectRow)
{
    const bool wasUpdating = m_inStatusUpdate;
    m_inStatusUpdate = true;
    QComboBox* combo = ui->cboUserName_0;
    combo->clear();
    if (!m_profile.ChatName.isEmpty()) combo->addItem(m_profile.ChatName);
    if (!m_profile.FullName.isEmpty()) combo->addItem(m_profile.FullName);
    if (combo->count() > 0)
        combo->setCurrentIndex(selectRow >= 0 && selectRow < combo->count() ? selectRow : 0);
    m_inStatusUpdate = wasUpdating;
}

// ---- Tray icon and display ---------------------------------------------------

void frmTray::setTrayIcon(int index)
{
    m_iconIndex = index;
    if (m_trayIcon) m_trayIcon->setIcon(TrayIcon(iconFamily(), index));
    setWindowIcon(TrayIcon(iconFamily(), index));
}

void frmTray::setTip(const QString& tip)
{
    m_tip = tip;
    if (m_trayIcon) m_trayIcon->setToolTip(tip);
}

void frmTray::setCallerBold(bool bold)
{
    for (QLabel* label : {ui->lblCaller, ui->lblStatus}) {
        QFont font = label->font();
        font.setBold(bold);
        label->setFont(font);
    }
}

void frmTray::ShowMonitor()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void frmTray::SetTopMost(bool topMost)
{
    const bool visible = isVisible();
    const QRect geometry = this->geometry();
    setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    setGeometry(geometry);
    if (visible) show();
}

QString frmTray::callerLine() const
{
    return ui->lblCaller->text();
}

// ---- The call port's window ---------------------------------------------------

void frmTray::callRinging()
{
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setEnabled(false);
}

void frmTray::playRing()
{
    if (m_soundOn && !quiet()) platform::Sound::current().play(m_ringFile);
}

void frmTray::callShown(const QString& callerName)
{
    if (m_autoAnswer) ShowMonitor();
    if (isVisible()) {
        setWindowTitle(traytext::IncomingCallFrom.toString() + callerName);
        ui->lblCaller->setText(callerName);
        setCallerBold(true);
    }
}

void frmTray::handOff(const QStringList& fields, const QString& source)
{
    m_tray->HandOffCall(fields, source);
}

void frmTray::handOffReturned(bool wasParked)
{
    setEnabled(true);
    if (!m_unloaded && wasParked) park();
    QApplication::restoreOverrideCursor();
}

void frmTray::ResetCallDisplay()
{
    m_port->ResetCall();
}

void frmTray::callEnded()
{
    closeCallNotice();
    setWindowTitle(traytext::Title.toString());
    if (m_networkState == 0) {
        ui->lblCaller->setText(traytext::WaitingForCall.toString());
    } else {
        ui->lblCaller->setText(traytext::NoNetworkDetected.toString());
        setTrayIcon(iconindex::NoNetwork);
    }
    setCallerBold(false);
    ui->cmdTray_0->setEnabled(false);
    ui->cmdTray_1->setText(u"OK"_s);
}

// ---- Poll, counter and availability -----------------------------------------

void frmTray::Poll()
{
    // A poll that waits on a message box lets the timer tick again: one poll at a time,
    // so that the boxes of an unreachable store do not pile up.
    if (m_inPoll) return;
    QScopedValueRollback<bool> polling(m_inPoll, true);
    // A tray that has appeared since takes the window.
    if (!m_trayIcon && adoptTray()) {
        m_trayIcon->show();
        if (isMinimized()) hide();
    }
    m_previousNetworkState = m_networkState;
    m_networkState = NetworkAbsent(*m_wskConnect);
    if (m_networkState != 0) {
        ui->lblCaller->setText(traytext::NoNetworkAvailable.toString());
        setTip(traytext::NoNetworkTip.toString());
        setTrayIcon(iconindex::NoNetwork);
        return;
    }
    // The call port is bound afresh when the network returns, and again at each poll while another
    // program holds it; the user is told once, and the caller line says so meanwhile.
    const bool returned = m_networkState != m_previousNetworkState;
    if (returned) m_port->socket().Close();
    const bool deaf =
        m_tmrConnect->isActive() && m_port->socket().State() == Socket::sckClosed && m_port->Bind() != 0;
    if (deaf && returned) notify(NoticeKind::Failure, traytext::CallPortTaken.toString());
    ui->lblCaller->setText((deaf ? traytext::CallPortTaken : traytext::WaitingForCall).toString());
    if (m_iconIndex == iconindex::NoNetwork) setTrayIcon(iconindex::Available);
    if (!m_store->HoldsFolder()) {
        m_outlookError = m_store->Connect() != 0 ? 1 : 0;
        if (m_outlookError != 0) ui->lblCaller->setText(traytext::NoOutlook.toString());
    } else if (m_store->HostGone()) {
        // The host ended under the monitor (it crashed or was killed): the
        // connection went with it. Say so now and let it go; the next poll
        // connects afresh, which starts a new host.
        m_store->Release();
        m_outlookError = 1;
        ui->lblCaller->setText(traytext::NoOutlook.toString());
    }
    int count = 0;
    if (m_store->CountUnread(count) != 0) return;
    if (count != m_lastUnreadCount)
        platform::LauncherBadge::current().setCount(installed::MonitorEntry.toString(), count);
    if (count > 0) {
        ui->lblMessages_0->setText(QString::number(count) + traytext::UnreadSuffix.toString());
        if (count > m_lastUnreadCount) {
            if (ReadFlag(Deliverable::Vigilo, settings::Messages)) {
                if (ReadFlag(Deliverable::Vigilo, settings::MsgBeep) && !quiet())
                    platform::Sound::current().beep();
                notify(NoticeKind::Message, traytext::MessageNotice.toString());
                if (ReadFlag(Deliverable::Vigilo, settings::MsgPrompt) &&
                    MsgBox(traytext::NewMessageQuestion.toString(), MsgButtons::YesNoCancel,
                           MsgIcon::Question) == MsgResult::Yes)
                    MenuClick(mnu::Messages);
            }
            m_hasUnread = true;
            setTrayIcon(iconindex::Available);
        }
    } else {
        ui->lblMessages_0->setText(traytext::NoNewMessages.toString());
        m_lastUnreadCount = 0;
        m_hasUnread = false;
        setTrayIcon(iconindex::Available);
    }
    m_lastUnreadCount = count;
}

void frmTray::ApplyStatus(const QString& text)
{
    if (m_inStatusUpdate) return;
    m_inStatusUpdate = true;
    for (QAction* action : std::as_const(m_mnuS))
        action->setChecked(false);
    const int row = AvailabilityRow(text);
    ui->cboUserName_1->setCurrentIndex(row);
    m_mnuS[row]->setChecked(true);
    setTip(text);
    setTrayIcon(row == 0 ? iconindex::Available : iconindex::Other);
    if (text != m_profile.UserStatus) {
        const QString previousName = m_profile.ChatName;
        m_profile.UserStatus = text;
        m_profile.IPAddress = Socket::LocalIP();
        SaveProfile(m_profile, previousName);
    }
    m_tray->NotifyFormStatus(text);
    m_inStatusUpdate = false;
}

void frmTray::onStatusCombo(int row)
{
    if (m_inStatusUpdate || row < 0) return;
    if (ui->cboUserName_1->itemText(row).contains(u'-')) {
        // The separator row stands for "Be Right Back".
        m_inStatusUpdate = true;
        ui->cboUserName_1->setCurrentIndex(BeRightBackRow);
        m_inStatusUpdate = false;
    }
    ApplyStatus(ui->cboUserName_1->currentText());
}

void frmTray::StatusMenuClick(int index)
{
    if (index < 0 || index >= m_mnuS.size() || index == SeparatorRow) return;
    ApplyStatus(AvailabilityRows()[index]);
}

void frmTray::onChatNameCommit()
{
    const QString text = ui->cboUserName_0->currentText().trimmed();
    if (m_inStatusUpdate) return;
    if (text.isEmpty() || text.contains(FieldSeparator) || text == m_profile.ChatName) {
        // Nothing to save, or a name that cannot be one: the box shows the name in use again.
        if (text.contains(FieldSeparator))
            MsgBox(SeparatorRefusalText(u"Chat Name"_s), MsgButtons::OK, MsgIcon::Information);
        ui->cboUserName_0->setEditText(m_profile.ChatName);
        return;
    }
    const QString previousName = m_profile.ChatName;
    m_profile.ChatName = text;
    m_profile.IPAddress = Socket::LocalIP();
    SaveProfile(m_profile, previousName);
    m_tray->NotifyFormUserName(text);
    if (ui->cboUserName_0->findText(text, Qt::MatchExactly) < 0)
        fillChatNames(ui->cboUserName_0->currentIndex());
}

void frmTray::onOkButton()
{
    ResetCallDisplay();
    park();
}

// ---- Menus, option bar, tray ---------------------------------------------------

void frmTray::startOpener(QStringView word)
{
    platform::Shell::current().start(SystemFolder() + OpenerProgram.toString(), {word.toString()},
                                     SystemFolder());
}

void frmTray::MenuClick(int index)
{
    switch (index) {
    case mnu::Monitor:
        ShowMonitor();
        break;
    case mnu::Contacts:
        startOpener(OpenKvFolder);
        break;
    case mnu::Messages:
        startOpener(OpenKvMessage);
        break;
    case mnu::Options:
        ShowOptions();
        break;
    case mnu::Mute:
        m_soundOn = !m_soundOn;
        m_mnuP[mnu::Mute]->setChecked(!m_soundOn);
        break;
    case mnu::DisplayOnCall:
        m_autoAnswer = !m_autoAnswer;
        m_mnuP[mnu::DisplayOnCall]->setChecked(m_autoAnswer);
        break;
    case mnu::Exit:
        ShowMonitor();
        RequestClose(true);
        break;
    default:
        break;
    }
}

void frmTray::ShowOptions()
{
    const Qt::WindowStates state = windowState();
    const bool wasVisible = isVisible();
    const int row = ui->cboUserName_0->currentIndex();
    ShowMonitor();
    MonitorFlags flags{m_soundOn, m_ringFile, m_autoAnswer, m_port->autoIgnore(), m_alwaysOnTop};
    frmOptions::Run(false, Socket::LocalIP(), flags, *m_store, this);
    m_soundOn = flags.soundOn;
    m_ringFile = flags.ringFile;
    m_autoAnswer = flags.autoAnswer;
    m_port->setAutoIgnore(flags.autoIgnore);
    m_alwaysOnTop = flags.alwaysOnTop;
    // Saving the profile stores it as available: the combo, tooltip, icon and open form follow.
    if (!LoadProfile(Deliverable::Vigilo, m_profile)) ApplyStatus(m_profile.UserStatus);
    fillChatNames(row);
    setWindowState(state);
    setVisible(wasVisible);
    m_mnuP[mnu::Mute]->setChecked(!m_soundOn);
    m_mnuP[mnu::DisplayOnCall]->setChecked(m_autoAnswer);
    SetTopMost(m_alwaysOnTop != 0);
}

void frmTray::OptionClick(int index)
{
    hoverOption(-1);
    switch (index) {
    case 0:
        MailPeerslip(m_store->access(), QString());
        break;
    case 1:
        ShowOptions();
        break;
    case 2:
        MenuClick(mnu::Messages);
        break;
    case 3:
        MenuClick(mnu::Contacts);
        break;
    default:
        break;
    }
}

void frmTray::hoverOption(int index)
{
    m_hovered = index;
    for (int i = 0; i < m_imgOptions.size(); ++i)
        m_imgOptions[i]->setStyleSheet(i == index ? u"border: 1px solid palette(highlight);"_s
                                                  : u"border: 1px solid palette(window);"_s);
}

void frmTray::onTrayActivated(int reason)
{
    for (QLabel* label : {ui->lblMessages_0, ui->lblMessages_1}) {
        QFont font = label->font();
        font.setUnderline(false);
        label->setFont(font);
    }
    switch (QSystemTrayIcon::ActivationReason(reason)) {
    case QSystemTrayIcon::Trigger:
        ShowMonitor();
        break;
    case QSystemTrayIcon::DoubleClick:
        startOpener(OpenKvFolder);
        break;
    default:
        break;
    }
}

bool frmTray::eventFilter(QObject* watched, QEvent* event)
{
    const int option = m_imgOptions.indexOf(qobject_cast<QLabel*>(watched));
    if (option >= 0) {
        if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
            if (m_hovered != option) hoverOption(option);
        } else if (event->type() == QEvent::MouseButtonRelease) {
            OptionClick(option);
            return true;
        }
    } else if (watched == ui->picOptions) {
        if (event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonPress) hoverOption(-1);
    } else if (watched == ui->lblMessages_0) {
        if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
            QFont font = ui->lblMessages_0->font();
            font.setUnderline(event->type() == QEvent::Enter);
            ui->lblMessages_0->setFont(font);
        } else if (event->type() == QEvent::MouseButtonRelease) {
            MenuClick(mnu::Messages);
            return true;
        }
    } else if (watched == ui->imgIP) {
        if (event->type() == QEvent::Enter)
            ui->imgIP->setToolTip(Socket::LocalIP());
        else if (event->type() == QEvent::MouseButtonRelease) {
            platform::Shell::current().open(ProductWebPage.toString());
            return true;
        }
    } else if (watched == ui->cboUserName_0->lineEdit() && event->type() == QEvent::FocusOut) {
        onChatNameCommit();
    }
    return QWidget::eventFilter(watched, event);
}

void frmTray::focusInEvent(QFocusEvent* event)
{
    ui->picOptions->update();
    QWidget::focusInEvent(event);
}

void frmTray::changeEvent(QEvent* event)
{
    // Minimising the window by any means hides it in the tray.
    if (m_trayIcon && event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) &&
        isVisible())
        QTimer::singleShot(0, this, [this] {
            if (m_trayIcon && (windowState() & Qt::WindowMinimized)) hide();
        });
    QWidget::changeEvent(event);
}

// ---- Closing -----------------------------------------------------------------

bool frmTray::RequestClose(bool ask)
{
    if (m_unloaded) return true;
    if (ask && !m_closingNoPrompt &&
        MsgBox(traytext::ExitQuestion.toString(), MsgButtons::YesNo, MsgIcon::Question) == MsgResult::No)
        return false;
    unload();
    return true;
}

void frmTray::closeEvent(QCloseEvent* event)
{
    if (m_unloaded || RequestClose(true))
        event->accept();
    else
        event->ignore();
}

void frmTray::unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    WriteSetting(settings::UseMonSnd, m_soundOn ? u"-1"_s : u"0"_s);
    WriteSetting(settings::MonitorSnd, m_ringFile);
    WriteSetting(settings::AutoAnswer, m_autoAnswer ? u"1"_s : u"0"_s);
    WriteSetting(settings::AutoIgnore, m_port->autoIgnore() ? u"1"_s : u"0"_s);
    if (!(windowState() & Qt::WindowMinimized)) {
        WriteSetting(settings::Left, QString::number(float(x())));
        WriteSetting(settings::Top, QString::number(float(y())));
    }
    if (m_trayIcon) m_trayIcon->hide();
    // The launcher keeps no count of a monitor that is gone.
    if (m_lastUnreadCount > 0)
        platform::LauncherBadge::current().setCount(installed::MonitorEntry.toString(), 0);
    m_port->stopRing();
    closeCallNotice();
    m_tmrConnect->stop();
    m_port->socket().Close();
    m_store->Release();
    QApplication::restoreOverrideCursor();
    hide();
    Q_EMIT unloaded();
}

} // namespace kv::vigilo
