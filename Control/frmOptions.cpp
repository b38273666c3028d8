#include "frmOptions.h"

#include "ChatName.h"
#include "Icons.h"
#include "Prompt.h"
#include "Rooms.h"
#include "modMisc.h"
#include "ui_frmOptions.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace kv::control {

frmOptions::frmOptions(Mode mode, const QString& localIp, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmOptions>()), m_mode(mode), m_localIp(localIp)
{
    ui->setupUi(this);
    setWindowIcon(ProductIcon());
    setWindowTitle(QString::fromUtf16(mode == Mode::NewUser ? NewProfileCaption : Caption));
    connect(ui->cmdOptions_0, &QPushButton::clicked, this, &frmOptions::accept);
    connect(ui->cmdOptions_1, &QPushButton::clicked, this, &frmOptions::reject);
    load();
    ui->tbsOptions->setCurrentWidget(mode == Mode::About ? ui->tabAbout : ui->tabInfo);
}

frmOptions::~frmOptions() = default;

void frmOptions::load()
{
    LoadProfile(Deliverable::Quillon, m_profile);
    ui->txtProfile_0->setText(m_profile.FullName);
    ui->txtProfile_1->setText(m_profile.Company);
    ui->txtProfile_2->setText(m_profile.Email);
    ui->txtProfile_3->setText(JoinNonEmpty(m_profile.City, m_profile.State));
    ui->txtProfile_4->setText(m_profile.Country);
    ui->txtProfile_5->setText(m_profile.Comment);
    // The chat name on offer: the current one and the full name, each when not empty.
    // (A new user's name from the mail program joins them once store access exists.)
    for (const QString& name : {m_profile.ChatName, m_profile.FullName}) {
        if (!name.isEmpty() && ui->cboUserName->findText(name) < 0) ui->cboUserName->addItem(name);
    }
    if (ui->cboUserName->count() > 0) ui->cboUserName->setCurrentIndex(0);
    // The folder list of the store comes with store access; the stored folder is offered now.
    ui->cboFolder->addItem(ReadSetting(Deliverable::Quillon, settings::Folder));
    ui->chkMyInfo->setChecked(m_profile.PrivateInfo != 0);

    ui->lblVersion->setText(u"Version "_s + QStringLiteral(QT_STRINGIFY(KIVARA_VERSION)));
    ui->lblSerial->setText(m_profile.SerialNum);
}

void frmOptions::accept()
{
    using platform::MsgBox;
    using platform::MsgButtons;
    using platform::MsgIcon;
    const QString chatName = ui->cboUserName->currentText().trimmed();
    if (chatName.isEmpty()) {
        MsgBox(QString::fromUtf16(NoChatNameText), MsgButtons::OK, MsgIcon::Information);
        return;
    }
    if (!IsValidChatName(chatName)) {
        MsgBox(QString::fromUtf16(ChatNameSeparatorText), MsgButtons::OK, MsgIcon::Information);
        return;
    }
    const QString previous = m_profile.ChatName;
    ProfileRecord p = m_profile;
    p.FullName = ui->txtProfile_0->text();
    p.Company = ui->txtProfile_1->text();
    p.Email = ui->txtProfile_2->text();
    const SplitName cityState = SplitUserName(ui->txtProfile_3->text());
    p.City = cityState.first.trimmed();
    p.State = cityState.second.trimmed();
    p.Country = ui->txtProfile_4->text();
    p.Comment = ui->txtProfile_5->text();
    p.ChatName = chatName;
    if (p.UserStatus.isEmpty()) p.UserStatus = QString::fromUtf16(availability::Available);
    p.PrivateInfo = ui->chkMyInfo->isChecked() ? 1 : 0;
    if (m_mode == Mode::NewUser) {
        p.IPAddress = m_localIp;
        p.LocalPort = ChatDatagramPort;
        if (p.SerialNum.isEmpty()) p.SerialNum = ReadSetting(Deliverable::Quillon, settings::SerialNum);
    }
    const QString folder = ui->cboFolder->currentText().trimmed();
    if (!folder.isEmpty()) WriteSetting(settings::Folder, folder);
    if (SaveProfile(p, previous) != 0) return; // SaveProfile told the user why
    m_profile = p;
    m_result = QString::fromUtf16(Success);
    QDialog::accept();
}

QString frmOptions::Run(Mode mode, const QString& localIp, QWidget* parent)
{
    QPointer<frmOptions> dialog = new frmOptions(mode, localIp, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    platform::Prompt::current().formShown(dialog);
    dialog->exec();
    QString result;
    if (dialog) {
        result = dialog->resultText();
        delete dialog;
    }
    return result;
}

} // namespace kv::control
