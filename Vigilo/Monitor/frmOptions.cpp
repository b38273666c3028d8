#include "Vigilo/Monitor/frmOptions.h"
#include "ui_frmOptions.h"

#include "Vigilo/Monitor/MonitorStore.h"

#include "Platform/Outlook/Outlook.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Shared/ProfileBoxes.h"
#include "Shared/Protocol.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"

#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QSaveFile>
#include <QShortcut>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

namespace ol = kv::outlook;
using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

constexpr QStringView ProgramName = u"/vigilo";
constexpr QStringView ProductWeb = u"http://www.kivara.com";
constexpr QStringView TabCaptions[] = {u"My Information", u"Settings", u"About"};

enum InfoBox { FullName = 0, Company, Email, CityState, Country, Comment };

QString FolderRow(const QString& name)
{
    return optionstext::FolderRowBefore.toString() + name + optionstext::FolderRowAfter.toString();
}

QString FolderOfRow(const QString& row)
{
    QString name = row;
    if (name.startsWith(optionstext::FolderRowBefore)) name.remove(0, 1);
    if (name.endsWith(optionstext::FolderRowAfter)) name.chop(qsizetype(optionstext::FolderRowAfter.size()));
    return name;
}

} // namespace

QString AutostartFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           u"/autostart/vigilo.desktop"_s;
}

void WriteRunEntry(bool on)
{
    const QString program = SystemFolder() + ProgramName.toString();
    if (!on) {
        DeleteKeyValue(RegRoot::CurrentUser, RunKey.toString(), RunValue.toString());
        QFile::remove(AutostartFilePath());
        return;
    }
    WriteKeyValue(RegRoot::CurrentUser, RunKey.toString(), RunValue.toString(), program);
    QDir().mkpath(QFileInfo(AutostartFilePath()).absolutePath());
    QSaveFile file(AutostartFilePath());
    if (!file.open(QIODevice::WriteOnly)) return;
    const QString entry = u"[Desktop Entry]\nType=Application\nName=Kivara Monitor\nExec=\""_s + program +
                          u"\"\nX-GNOME-Autostart-enabled=true\nNoDisplay=true\n"_s;
    file.write(entry.toUtf8());
    file.commit();
}

frmOptions::frmOptions(bool firstProfile, const QString& localAddress, MonitorFlags& flags,
                       MonitorStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmOptions>()), m_firstProfile(firstProfile),
      m_localAddress(localAddress), m_flags(flags), m_store(store)
{
    ui->setupUi(this);
    ui->imgTab->installEventFilter(this);
    // The page strip is a picture; from the keyboard, Ctrl+Tab moves to the next page.
    auto* nextPage = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(nextPage, &QShortcut::activated, this, [this] {
        if (ui->imgTab->isEnabled()) SelectTab((currentTab() + 1) % int(std::size(TabCaptions)));
    });
    ui->lblLink_0->installEventFilter(this);
    ui->lblLink_1->installEventFilter(this);
    connect(ui->cmdOptions_0, &QPushButton::clicked, this, &frmOptions::onOk);
    connect(ui->cmdOptions_1, &QPushButton::clicked, this, &frmOptions::onCancel);
    connect(ui->chkSound, &QCheckBox::toggled, this, [this](bool on) {
        ui->txtSound->setEnabled(on);
        ui->cmdSound->setEnabled(on);
    });
    connect(ui->cmdSound, &QPushButton::clicked, this, [this] {
        platform::FileDialogRequest request;
        request.title = optionstext::SoundDialogTitle.toString();
        request.filter = optionstext::SoundFilter.toString();
        request.initialDir = SystemFolder();
        const QString file = platform::Prompt::current().openFile(request);
        if (!file.isEmpty()) {
            ui->txtSound->setText(file);
            m_settingsChanged = true;
        }
    });
    for (QLineEdit* box : {ui->txtMyInfo_0, ui->txtMyInfo_1, ui->txtMyInfo_2, ui->txtMyInfo_3,
                           ui->txtMyInfo_4, ui->txtMyInfo_5, ui->txtSound})
        box->installEventFilter(this);
    LimitProfileBoxes({ui->txtMyInfo_0, ui->txtMyInfo_1, ui->txtMyInfo_2, ui->txtMyInfo_3, ui->txtMyInfo_4,
                       ui->txtMyInfo_5},
                      ui->cboUserName->lineEdit());
    load();
    watchChanges();
}

frmOptions::~frmOptions() = default;

void frmOptions::load()
{
    LoadProfile(Deliverable::Vigilo, m_profile);
    ui->txtMyInfo_0->setText(m_profile.FullName);
    ui->txtMyInfo_1->setText(m_profile.Company);
    ui->txtMyInfo_2->setText(m_profile.Email);
    ui->txtMyInfo_3->setText(JoinNonEmpty(m_profile.City, m_profile.State));
    ui->txtMyInfo_4->setText(m_profile.Country);
    ui->txtMyInfo_5->setText(m_profile.Comment);
    if (!m_profile.ChatName.isEmpty()) ui->cboUserName->addItem(m_profile.ChatName);
    if (!m_profile.FullName.isEmpty()) ui->cboUserName->addItem(m_profile.FullName);
    if (ui->cboUserName->count() > 0) ui->cboUserName->setCurrentIndex(0);
    ui->chkMyInfo->setChecked(m_profile.PrivateInfo != 0);
    fillFolders();

    ui->chkSound->setChecked(m_flags.soundOn);
    ui->txtSound->setEnabled(m_flags.soundOn);
    ui->cmdSound->setEnabled(m_flags.soundOn);
    ui->txtSound->setText(m_flags.ringFile);
    ui->chkMon_0->setChecked(m_flags.autoAnswer);
    ui->chkMon_1->setChecked(m_flags.autoIgnore);
    ui->chkMon_2->setChecked(m_flags.alwaysOnTop != 0);
    ui->chkMon_3->setChecked(ReadFlag(Deliverable::Vigilo, settings::AutoStart));
    ui->chkMon_4->setChecked(ReadFlag(Deliverable::Vigilo, settings::MsgBeep));
    ui->chkMon_5->setChecked(ReadFlag(Deliverable::Vigilo, settings::Messages));
    ui->chkMon_6->setChecked(ReadFlag(Deliverable::Vigilo, settings::MsgPrompt));
    ui->txtMon->setText(ReadSetting(Deliverable::Vigilo, settings::MsgFolder));

    ui->lblProduct->setText(u"Kivara    for Microsoft"_s + QChar(0x00AE) + u" Outlook"_s);
    ui->lblVersion->setText(u"Version "_s + QString::fromLatin1(KIVARA_VERSION_TEXT));
    const auto link = [](const QString& url) { return u"<a href=\""_s + url + u"\">"_s + url + u"</a>"_s; };
    ui->lblLink_0->setText(link(ProductWeb.toString()));
    ui->lblLink_1->setText(link(optionstext::SupportPage.toString()));

    if (m_firstProfile) {
        ui->imgTab->setEnabled(false);
        ui->imgTab->hide();
        ui->fraPanel_1->hide();
        ui->fraPanel_2->hide();
        SelectTab(0);
        if (ui->cboUserName->count() == 0 && m_store.access().GetOutlook() == 0 && m_store.application()) {
            const QString user = m_store.application().GetNamespace(u"MAPI"_s).CurrentUser();
            if (!user.isEmpty() && user != optionstext::UnknownUser) ui->cboUserName->setEditText(user);
        }
        adjustSize();
    } else {
        SelectTab(0);
    }
}

void frmOptions::fillFolders()
{
    ui->cboFolder->clear();
    const QString configured = ReadSetting(Deliverable::Vigilo, settings::Folder);
    QStringList rows = m_store.access().ListContactFolders(configured);
    if (rows.isEmpty() || FolderOfRow(rows.first()) != configured) rows.prepend(FolderRow(configured));
    ui->cboFolder->addItems(rows);
    ui->cboFolder->setCurrentIndex(0);
}

void frmOptions::watchChanges()
{
    const auto profile = [this] { m_profileChanged = true; };
    const auto setting = [this] { m_settingsChanged = true; };
    for (QLineEdit* box : {ui->txtMyInfo_0, ui->txtMyInfo_1, ui->txtMyInfo_2, ui->txtMyInfo_3,
                           ui->txtMyInfo_4, ui->txtMyInfo_5})
        connect(box, &QLineEdit::textChanged, this, profile);
    connect(ui->cboUserName, &QComboBox::editTextChanged, this, profile);
    connect(ui->cboFolder, &QComboBox::currentIndexChanged, this, profile);
    connect(ui->chkMyInfo, &QCheckBox::toggled, this, profile);
    for (QCheckBox* box : {ui->chkMon_0, ui->chkMon_1, ui->chkMon_2, ui->chkMon_3, ui->chkMon_4, ui->chkMon_5,
                           ui->chkMon_6, ui->chkSound})
        connect(box, &QCheckBox::toggled, this, setting);
    connect(ui->txtSound, &QLineEdit::textChanged, this, setting);
    connect(ui->txtMon, &QLineEdit::textChanged, this, setting);
}

int frmOptions::TabForTwips(int x)
{
    if (x > 0 && x < TabBoundary1) return 0;
    if (x >= TabBoundary1 && x < TabBoundary2) return 1;
    if (x >= TabBoundary2 && x < TabBoundary3) return 2;
    return -1;
}

int frmOptions::currentTab() const
{
    return ui->stkPanels->currentIndex();
}

void frmOptions::SelectTab(int tab)
{
    if (tab < 0 || tab > 2) return;
    ui->stkPanels->setCurrentIndex(tab);
    drawTabs();
}

void frmOptions::drawTabs()
{
    // The strip's picture for the chosen tab, with the tabs at their fixed boundaries.
    const double perTwip = logicalDpiX() / double(TwipsPerInch);
    const int bounds[] = {0, TabBoundary1, TabBoundary2, TabBoundary3};
    QPixmap strip(qRound(TabBoundary3 * perTwip) + 2, fontMetrics().height() + 10);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    int i = 0;
    for (QStringView caption : TabCaptions) {
        const QRect r(qRound(bounds[i] * perTwip), i == currentTab() ? 0 : 3,
                      qRound((bounds[i + 1] - bounds[i]) * perTwip) - 1,
                      strip.height() - (i == currentTab() ? 1 : 4));
        painter.setBrush(i == currentTab() ? palette().window() : palette().button());
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(r);
        painter.setPen(palette().color(QPalette::WindowText));
        // The tab widths are fixed: a caption that does not fit is drawn smaller.
        QFont font = this->font();
        const int advance = QFontMetrics(font).horizontalAdvance(caption.toString());
        if (advance > r.width() - 6 && advance > 0)
            font.setPointSizeF(font.pointSizeF() * (r.width() - 6) / advance);
        painter.setFont(font);
        painter.drawText(r, Qt::AlignCenter, caption.toString());
        ++i;
    }
    painter.end();
    ui->imgTab->setPixmap(strip);
}

bool frmOptions::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->imgTab && event->type() == QEvent::MouseButtonPress) {
        if (ui->imgTab->isEnabled()) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const int twips = qRound(mouse->position().x() * TwipsPerInch / logicalDpiX());
            const int tab = TabForTwips(twips);
            if (tab >= 0) SelectTab(tab);
        }
        return true;
    }
    if ((watched == ui->lblLink_0 || watched == ui->lblLink_1) &&
        event->type() == QEvent::MouseButtonRelease) {
        openLink(watched == ui->lblLink_0 ? 0 : 1);
        return true;
    }
    if (event->type() == QEvent::FocusIn) {
        if (auto* box = qobject_cast<QLineEdit*>(watched)) SelectAllText(box);
    }
    return QDialog::eventFilter(watched, event);
}

void frmOptions::openLink(int index)
{
    const QString url = index == 0 ? ProductWeb.toString() : optionstext::SupportPage.toString();
    if (!platform::Shell::current().open(url))
        MsgBox(optionstext::CouldNotOpen.toString() + url + u"."_s, MsgButtons::OK, MsgIcon::Information);
}

void frmOptions::applyFolder()
{
    const QString folder = FolderOfRow(ui->cboFolder->currentText());
    const QString current = ReadSetting(Deliverable::Vigilo, settings::Folder);
    if (folder.isEmpty() || folder == current) return;
    WriteSetting(settings::Folder, folder);
    m_store.setFolderName(folder);
    if (m_store.Connect() == 0 && m_store.access().CountStandardContacts(folder) > 0 &&
        MsgBox(optionstext::StandardContactsFound.toString(), MsgButtons::YesNo, MsgIcon::Question) ==
            MsgResult::Yes) {
        const int standardBefore = m_store.access().CountStandardContacts(folder);
        StoreAccess::ConvertItems(m_store.contactsFolder(), ol::KivaraContactClass.toString());
        if (standardBefore > 0 && m_store.access().CountStandardContacts(folder) == 0)
            MsgBox(optionstext::UpdatedBefore.toString() + folder + optionstext::UpdatedAfter.toString(),
                   MsgButtons::OK, MsgIcon::Information);
    }
    MsgBox(optionstext::DefaultFolderBefore.toString() + folder + optionstext::DefaultFolderAfter.toString(),
           MsgButtons::OK, MsgIcon::Information);
}

void frmOptions::onOk()
{
    const QString chatName = ui->cboUserName->currentText().trimmed();
    if (chatName.isEmpty()) {
        MsgBox(optionstext::NoUserName.toString(), MsgButtons::OK, MsgIcon::Information);
        ui->cboUserName->setFocus();
        return;
    }
    const QString previousName = m_profile.ChatName;
    if (m_profileChanged || m_firstProfile) {
        ProfileRecord p = m_profile;
        p.FullName = ui->txtMyInfo_0->text();
        p.Company = ui->txtMyInfo_1->text();
        p.Email = ui->txtMyInfo_2->text();
        const SplitName cityState = SplitUserName(ui->txtMyInfo_3->text());
        p.City = cityState.first;
        p.State = cityState.second;
        p.Country = ui->txtMyInfo_4->text();
        p.Comment = ui->txtMyInfo_5->text();
        p.ChatName = chatName;
        p.UserStatus = u"Available"_s;
        if (!m_localAddress.isEmpty()) {
            p.IPAddress = m_localAddress;
            p.LocalPort = ChatDatagramPort;
        }
        p.SerialNum = ReadSetting(Deliverable::Vigilo, settings::SerialNum);
        p.PrivateInfo = ui->chkMyInfo->isChecked() ? 1 : 0;
        if (const QString field = FieldHoldingSeparator(p); !field.isEmpty()) {
            MsgBox(SeparatorRefusalText(field), MsgButtons::OK, MsgIcon::Information);
            return;
        }
        m_profile = p;
        applyFolder();
    }
    if (m_firstProfile) {
        m_result = SaveProfile(m_profile, previousName) == 0 ? Success.toString() : Failure.toString();
        hide();
        QDialog::accept();
        return;
    }
    if (m_profileChanged) SaveProfile(m_profile, previousName);
    if (m_settingsChanged) saveSettings();
    QDialog::accept();
}

void frmOptions::saveSettings()
{
    m_flags.soundOn = ui->chkSound->isChecked();
    WriteSetting(settings::UseMonSnd, m_flags.soundOn ? u"-1"_s : u"0"_s);
    m_flags.ringFile = ui->txtSound->text();
    WriteSetting(settings::MonitorSnd, m_flags.ringFile);
    m_flags.autoAnswer = ui->chkMon_0->isChecked();
    WriteSetting(settings::AutoAnswer, m_flags.autoAnswer ? u"1"_s : u"0"_s);
    m_flags.autoIgnore = ui->chkMon_1->isChecked();
    WriteSetting(settings::AutoIgnore, m_flags.autoIgnore ? u"1"_s : u"0"_s);
    m_flags.alwaysOnTop = ui->chkMon_2->isChecked() ? 1 : 0;
    WriteSetting(settings::AlwaysOnTop, QString::number(m_flags.alwaysOnTop));
    const bool autoStart = ui->chkMon_3->isChecked();
    WriteSetting(settings::AutoStart, autoStart ? u"1"_s : u"0"_s);
    WriteRunEntry(autoStart);
    const QString msgFolder = ui->txtMon->text().trimmed();
    if (!msgFolder.isEmpty() && msgFolder != ReadSetting(Deliverable::Vigilo, settings::MsgFolder) &&
        m_store.RenameMessages(msgFolder))
        WriteSetting(settings::MsgFolder, msgFolder);
    WriteSetting(settings::Messages, ui->chkMon_5->isChecked() ? u"1"_s : u"0"_s);
    WriteSetting(settings::MsgBeep, ui->chkMon_4->isChecked() ? u"1"_s : u"0"_s);
    WriteSetting(settings::MsgPrompt, ui->chkMon_6->isChecked() ? u"1"_s : u"0"_s);
}

void frmOptions::onCancel()
{
    if (m_firstProfile) m_result = Failure.toString();
    QDialog::reject();
}

QString frmOptions::Run(bool firstProfile, const QString& localAddress, MonitorFlags& flags,
                        MonitorStore& store, QWidget* parent)
{
    QPointer<frmOptions> dialog = new frmOptions(firstProfile, localAddress, flags, store, parent);
    platform::Prompt::current().formShown(dialog);
    QString result = firstProfile ? Failure.toString() : QString();
    if (dialog) dialog->exec();
    if (dialog) {
        if (!dialog->resultText().isEmpty()) result = dialog->resultText();
        delete dialog;
    }
    return result;
}

} // namespace kv::vigilo
