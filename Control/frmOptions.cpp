#include "Control/frmOptions.h"

#include "Control/Icons.h"
#include "Control/Session/ChatName.h"
#include "Control/Session/History.h"
#include "Control/Session/Rooms.h"
#include "Control/Transcript.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Sound.h"
#include "Shared/PeerslipMail.h"
#include "Shared/ProfileBoxes.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "ui_frmOptions.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>
#include <QShortcut>

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

// The palette's cells: the classic sixteen colours and a range of lighter and darker tones.
constexpr int PaletteColumns = 8;
constexpr int PaletteRows = 6;
constexpr int PaletteCell = 18;
constexpr QRgb PaletteColours[PaletteRows * PaletteColumns] = {
    0x000000, 0x808080, 0x800000, 0x808000, 0x008000, 0x008080, 0x000080, 0x800080, 0xFFFFFF, 0xC0C0C0,
    0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF, 0xFF00FF, 0x404040, 0xA0A0A0, 0xFF8080, 0xFFFF80,
    0x80FF80, 0x80FFFF, 0x8080FF, 0xFF80FF, 0x400000, 0x404000, 0x004000, 0x004040, 0x000040, 0x400040,
    0x804000, 0x004080, 0xFF8000, 0x80FF00, 0x00FF80, 0x0080FF, 0x8000FF, 0xFF0080, 0xC08040, 0x40C080,
    0x993300, 0x336699, 0x669933, 0x996633, 0x663399, 0x339966, 0xCC9966, 0x6699CC};

// The colour palette picture: a click picks the cell under the pointer.
class ColorPalette : public QWidget {
public:
    ColorPalette(QWidget* parent, std::function<void(const QColor&)> picked)
        : QWidget(parent, Qt::Popup), m_picked(std::move(picked))
    {
        setObjectName(u"picPalette"_s);
        setFixedSize(PaletteColumns * PaletteCell + 1, PaletteRows * PaletteCell + 1);
        setAttribute(Qt::WA_DeleteOnClose);
    }
    static QColor colourAt(const QPoint& p)
    {
        const int col = p.x() / PaletteCell;
        const int row = p.y() / PaletteCell;
        if (p.x() < 0 || p.y() < 0 || col >= PaletteColumns || row >= PaletteRows) return {};
        return QColor::fromRgb(PaletteColours[row * PaletteColumns + col]);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        for (int i = 0; i < PaletteRows * PaletteColumns; ++i) {
            const QRect cell((i % PaletteColumns) * PaletteCell, (i / PaletteColumns) * PaletteCell,
                             PaletteCell, PaletteCell);
            painter.fillRect(cell, QColor::fromRgb(PaletteColours[i]));
            painter.setPen(Qt::gray);
            painter.drawRect(cell);
        }
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        const QColor c = colourAt(event->position().toPoint());
        if (c.isValid() && m_picked) m_picked(c);
        close();
    }

private:
    std::function<void(const QColor&)> m_picked;
};

QCheckBox* soundCheck(Ui::frmOptions& ui, int i)
{
    return i == 0 ? ui.chkSound_0 : ui.chkSound_1;
}
QLineEdit* soundBox(Ui::frmOptions& ui, int i)
{
    return i == 0 ? ui.txtSound_0 : ui.txtSound_1;
}
QPushButton* soundButton(Ui::frmOptions& ui, int i)
{
    return i == 0 ? ui.cmdSound_0 : ui.cmdSound_1;
}

QString flag(bool on)
{
    return on ? u"1"_s : u"0"_s;
}

} // namespace

frmOptions::frmOptions(Mode mode, const QString& localIp, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmOptions>()), m_mode(mode), m_localIp(localIp)
{
    ui->setupUi(this);
    setWindowIcon(ProductIcon());
    setWindowTitle((mode == Mode::NewUser ? NewProfileCaption : Caption).toString());
    connect(ui->cmdOptions_0, &QPushButton::clicked, this, &frmOptions::accept);
    connect(ui->cmdOptions_1, &QPushButton::clicked, this, &frmOptions::reject);
    connect(ui->chkAccept, &QCheckBox::toggled, this, &frmOptions::applyEnabling);
    connect(ui->chkSound_0, &QCheckBox::toggled, this, &frmOptions::applyEnabling);
    connect(ui->chkSound_1, &QCheckBox::toggled, this, &frmOptions::applyEnabling);
    connect(ui->chkOthers, &QCheckBox::toggled, this, &frmOptions::applyEnabling);
    connect(ui->cmdSound_0, &QPushButton::clicked, this, [this] { browseSound(0); });
    connect(ui->cmdSound_1, &QPushButton::clicked, this, [this] { browseSound(1); });
    connect(ui->cmdColor_0, &QPushButton::clicked, this, [this] { openPalette(0); });
    connect(ui->cmdColor_1, &QPushButton::clicked, this, [this] { openPalette(1); });
    connect(ui->cmdFolder, &QPushButton::clicked, this, &frmOptions::browseFolder);
    connect(ui->cmdClearHistory, &QPushButton::clicked, this, &frmOptions::clearHistory);
    auto* ctrlTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    ctrlTab->setContext(Qt::WindowShortcut);
    connect(ctrlTab, &QShortcut::activated, this, &frmOptions::nextTab);
    ui->lblWeb->installEventFilter(this);
    LimitProfileBoxes({ui->txtProfile_0, ui->txtProfile_1, ui->txtProfile_2, ui->txtProfile_3, ui->txtProfile_4,
                       ui->txtProfile_5},
                      ui->cboUserName->lineEdit());
    load();
    applyEnabling();
    ui->tbsOptions->setCurrentWidget(mode == Mode::About ? ui->tabAbout : ui->tabInfo);
}

frmOptions::~frmOptions() = default;

QString frmOptions::FolderOfEntry(const QString& entry)
{
    static const QRegularExpression quoted(u"^'(.*)' folder$"_s);
    const QRegularExpressionMatch m = quoted.match(entry.trimmed());
    return m.hasMatch() ? m.captured(1) : entry.trimmed();
}

QList<int> frmOptions::FontSizes()
{
    return {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 28, 36};
}

void frmOptions::setColor(int index, const QColor& color)
{
    m_colors[index & 1] = color;
    QLabel* box = index == 0 ? ui->picColor_0 : ui->picColor_1;
    QPalette pal = box->palette();
    pal.setColor(QPalette::Window, color);
    box->setPalette(pal);
    box->setProperty("colorValue", ColorToSetting(color));
}

void frmOptions::load()
{
    const auto Q = Deliverable::Quillon;
    // My Infomation
    LoadProfile(Q, m_profile);
    ui->txtProfile_0->setText(m_profile.FullName);
    ui->txtProfile_1->setText(m_profile.Company);
    ui->txtProfile_2->setText(m_profile.Email);
    ui->txtProfile_3->setText(JoinNonEmpty(m_profile.City, m_profile.State));
    ui->txtProfile_4->setText(m_profile.Country);
    ui->txtProfile_5->setText(m_profile.Comment);
    StoreAccess access(Q);
    QStringList names;
    if (m_mode == Mode::NewUser) {
        access.GetOutlook();
        const QString outlookUser = access.application().GetNamespace(MapiNamespace.toString()).CurrentUser();
        if (outlookUser != UnknownUser.toString()) names << outlookUser;
    }
    names << m_profile.ChatName << m_profile.FullName;
    for (const QString& name : names) {
        if (!name.isEmpty() && ui->cboUserName->findText(name) < 0) ui->cboUserName->addItem(name);
    }
    if (ui->cboUserName->count() > 0) ui->cboUserName->setCurrentIndex(0);
    const QString folder = ReadSetting(Q, settings::Folder);
    const QStringList entries = access.ListContactFolders(folder);
    ui->cboFolder->addItems(entries);
    // The stored folder stays selected even when the store does not list it
    // (yet): OK must not move the contacts elsewhere unasked.
    int selected = -1;
    for (const QString& entry : entries)
        m_listedFolders << FolderOfEntry(entry);
    for (int i = 0; i < entries.size() && selected < 0; ++i)
        if (FolderOfEntry(entries[i]) == folder) selected = i;
    if (selected < 0) {
        ui->cboFolder->insertItem(0, folder);
        selected = 0;
    }
    ui->cboFolder->setCurrentIndex(selected);
    ui->chkMyInfo->setChecked(m_profile.PrivateInfo != 0);

    // Options
    ui->txtEnterMsg->setText(ReadSetting(Q, settings::EnterMsg));
    ui->txtLeaveMsg->setText(ReadSetting(Q, settings::LeaveMsg));
    ui->chkSound_0->setChecked(ReadFlag(Q, settings::UseCallSnd));
    ui->txtSound_0->setText(ReadSetting(Q, settings::CallFile));
    ui->chkSound_1->setChecked(ReadFlag(Q, settings::UseAttnSnd));
    ui->txtSound_1->setText(ReadSetting(Q, settings::AttnFile));
    ui->cboFont->addItems(QFontDatabase::families());
    const QString fontName = ReadSetting(Q, settings::FontName);
    if (ui->cboFont->findText(fontName) < 0) ui->cboFont->addItem(fontName);
    ui->cboFont->setCurrentIndex(ui->cboFont->findText(fontName));
    for (int size : FontSizes())
        ui->cboFontSize->addItem(QString::number(size));
    ui->cboFontSize->setCurrentText(ReadSetting(Q, settings::FontSize));
    setColor(0, ColorFromSetting(ReadSetting(Q, settings::MyColor).toLongLong()));
    ui->chkOthers->setChecked(ReadFlag(Q, settings::UseOthers));
    setColor(1, ColorFromSetting(ReadSetting(Q, settings::OthersColor).toLongLong()));
    ui->chkView_0->setChecked(ReadSetting(Q, settings::ShowUsers) == u"1"_s);
    ui->chkView_1->setChecked(ReadSetting(Q, settings::StatusBar) == u"1"_s);

    // Settings
    ui->chkAccept->setChecked(ReadFlag(Q, settings::AcceptFiles));
    ui->txtFolder->setText(ReadSetting(Q, settings::FileFolder));
    const int autoAdd = qBound(0, ReadSetting(Q, settings::AutoAdd).toInt(), 2);
    (autoAdd == 0 ? ui->optAutoAdd_0 : autoAdd == 1 ? ui->optAutoAdd_1 : ui->optAutoAdd_2)->setChecked(true);
    ui->chkHistory->setChecked(ReadFlag(Q, settings::KeepHistory));

    // About
    ui->lblVersion->setText(u"Version "_s + QStringLiteral(QT_STRINGIFY(KIVARA_VERSION)));
    ui->lblSerial->setText(m_profile.SerialNum);
    ui->lblWeb->setText(u"<a href=\"%1\">%1</a>"_s.arg(ProductWebAddress.toString()));
}

void frmOptions::applyEnabling()
{
    const bool accept = ui->chkAccept->isChecked();
    ui->txtFolder->setEnabled(accept);
    ui->cmdFolder->setEnabled(accept);
    for (int i = 0; i < 2; ++i) {
        soundBox(*ui, i)->setEnabled(soundCheck(*ui, i)->isChecked());
        soundButton(*ui, i)->setEnabled(soundCheck(*ui, i)->isChecked());
    }
    const bool others = ui->chkOthers->isChecked();
    ui->picColor_1->setEnabled(others);
    ui->cmdColor_1->setEnabled(others);
    ui->lblColor_1->setEnabled(others);
}

void frmOptions::browseSound(int index)
{
    platform::FileDialogRequest request;
    request.title = SoundTitle.toString();
    request.filter = SoundFilter.toString();
    request.initialDir = QFileInfo(soundBox(*ui, index)->text()).absolutePath();
    const QString file = platform::Prompt::current().openFile(request);
    if (file.isEmpty()) return;
    soundBox(*ui, index)->setText(file);
    platform::Sound::current().play(file);
}

void frmOptions::browseFolder()
{
    const QString folder =
        platform::Prompt::current().chooseFolder(FolderTitle.toString(), ui->txtFolder->text());
    if (!folder.isEmpty()) ui->txtFolder->setText(QDir::toNativeSeparators(folder));
}

void frmOptions::openPalette(int index)
{
    auto* palette = new ColorPalette(this, [this, index](const QColor& c) { setColor(index, c); });
    QPushButton* button = index == 0 ? ui->cmdColor_0 : ui->cmdColor_1;
    palette->move(button->mapToGlobal(QPoint(0, button->height())));
    palette->show();
}

void frmOptions::clearHistory()
{
    // No is the default: only a deliberate Yes deletes.
    platform::MsgBoxRequest confirm;
    confirm.text = ClearHistoryQuestion.toString();
    confirm.buttons = MsgButtons::YesNo;
    confirm.icon = MsgIcon::Question;
    confirm.defaultButton = 2;
    if (platform::Prompt::current().msgBox(confirm) == MsgResult::Yes) History::user()->clear();
}

void frmOptions::nextTab()
{
    const int count = ui->tbsOptions->count();
    ui->tbsOptions->setCurrentIndex((ui->tbsOptions->currentIndex() + 1) % count);
}

bool frmOptions::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->lblWeb && event->type() == QEvent::MouseButtonRelease) {
        const QString address = ProductWebAddress.toString();
        if (!platform::Shell::current().open(address))
            MsgBox(CannotOpen.toString() + address, MsgButtons::OK, MsgIcon::Information);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool frmOptions::storeFolder()
{
    const auto Q = Deliverable::Quillon;
    const QString folder = FolderOfEntry(ui->cboFolder->currentText());
    if (folder.isEmpty()) return false;
    const QString previous = ReadSetting(Q, settings::Folder);
    WriteSetting(settings::Folder, folder);
    StoreAccess access(Q);
    // Only a folder the store holds can hold contacts; one typed in that does
    // not exist yet is made when the product next opens it.
    if (m_listedFolders.contains(folder) && access.CountStandardContacts(folder) > 0 &&
        MsgBox(StandardContactsFound.toString(), MsgButtons::YesNo, MsgIcon::Question) == MsgResult::Yes) {
        if (access.OpenFolder(folder) == 0) {
            StoreAccess::ConvertItems(access.currentFolder(), outlook::KivaraContactClass.toString());
            MsgBox(ContactsUpdatedBefore.toString() + folder + ContactsUpdatedAfter.toString(),
                   MsgButtons::OK, MsgIcon::Information);
        }
    }
    if (folder != previous)
        MsgBox(DefaultFolderBefore.toString() + folder + DefaultFolderAfter.toString(), MsgButtons::OK,
               MsgIcon::Information);
    return true;
}

void frmOptions::accept()
{
    const auto Q = Deliverable::Quillon;
    // 1. A chat name
    const QString chatName = ui->cboUserName->currentText().trimmed();
    if (chatName.isEmpty()) {
        MsgBox(NoChatNameText.toString(), MsgButtons::OK, MsgIcon::Information);
        return;
    }
    if (!IsValidChatName(chatName)) {
        MsgBox(ChatNameSeparatorText.toString(), MsgButtons::OK, MsgIcon::Information);
        return;
    }
    if (chatName != m_profile.ChatName && m_nameCheck && m_nameCheck(chatName)) return;
    // 2. The profile's fields
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
    if (p.UserStatus.isEmpty()) p.UserStatus = availability::Available.toString();
    p.PrivateInfo = ui->chkMyInfo->isChecked() ? 1 : 0;
    if (const QString field = FieldHoldingSeparator(p); !field.isEmpty()) {
        MsgBox(SeparatorRefusalText(field), MsgButtons::OK, MsgIcon::Information);
        return;
    }
    if (m_mode == Mode::NewUser) {
        p.IPAddress = m_localIp;
        p.LocalPort = ChatDatagramPort;
        if (p.SerialNum.isEmpty()) p.SerialNum = ReadSetting(Q, settings::SerialNum);
    }
    // 3. The contacts folder
    storeFolder();
    // 4. The profile
    if (SaveProfile(p, previous) != 0) return; // SaveProfile told the user why
    m_profile = p;
    m_result = Success.toString();
    // 5. Messages and adding callers
    WriteSetting(settings::EnterMsg, ui->txtEnterMsg->text().trimmed());
    WriteSetting(settings::LeaveMsg, ui->txtLeaveMsg->text().trimmed());
    WriteSetting(settings::AutoAdd, ui->optAutoAdd_0->isChecked()   ? u"0"_s
                                    : ui->optAutoAdd_1->isChecked() ? u"1"_s
                                                                    : u"2"_s);
    // 6. File transfer
    const QString fileFolder = ui->txtFolder->text().trimmed();
    if (ui->chkAccept->isChecked()) {
        if (fileFolder.isEmpty()) {
            MsgBox(NoFolderText.toString(), MsgButtons::OK, MsgIcon::Information);
            return;
        }
        if (!QFileInfo(fileFolder).isDir()) {
            if (MsgBox(FolderMissingBefore.toString() + fileFolder + FolderMissingAfter.toString(),
                       MsgButtons::YesNo, MsgIcon::Question) == MsgResult::Yes)
                QDir().mkpath(fileFolder);
        }
    }
    WriteSetting(settings::AcceptFiles, flag(ui->chkAccept->isChecked()));
    WriteSetting(settings::FileFolder, fileFolder);
    WriteSetting(settings::KeepHistory, flag(ui->chkHistory->isChecked()));
    // 7. View, fonts, colours and sounds
    WriteSetting(settings::StatusBar, flag(ui->chkView_1->isChecked()));
    WriteSetting(settings::ShowUsers, flag(ui->chkView_0->isChecked()));
    WriteSetting(settings::FontName, ui->cboFont->currentText());
    WriteSetting(settings::FontSize, ui->cboFontSize->currentText());
    WriteSetting(settings::MyColor, QString::number(ColorToSetting(m_colors[0])));
    WriteSetting(settings::UseOthers, flag(ui->chkOthers->isChecked()));
    WriteSetting(settings::OthersColor, QString::number(ColorToSetting(m_colors[1])));
    WriteSetting(settings::CallFile, ui->txtSound_0->text());
    WriteSetting(settings::AttnFile, ui->txtSound_1->text());
    WriteSetting(settings::UseCallSnd, flag(ui->chkSound_0->isChecked()));
    WriteSetting(settings::UseAttnSnd, flag(ui->chkSound_1->isChecked()));
    // 8.
    QDialog::accept();
}

QString frmOptions::Run(Mode mode, const QString& localIp, QWidget* parent, NameCheck nameCheck)
{
    QPointer<frmOptions> dialog = new frmOptions(mode, localIp, parent);
    dialog->setNameCheck(std::move(nameCheck));
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
