#include "Vigilo/Opener/frmReceived.h"

#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Vigilo/Opener/ReceivedFiles.h"
#include "Vigilo/Opener/frmFile.h"
#include "ui_frmReceived.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace kv::dorvan {

namespace {
constexpr int NameColumn = 0, SenderColumn = 1, TimeColumn = 2, SizeColumn = 3, WhereColumn = 4;
// The saved file's path of a row; a failed transfer's row has none.
constexpr int PathRole = Qt::UserRole;
} // namespace

frmReceived::frmReceived(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::frmReceived>())
{
    ui->setupUi(this);
    const QLocale locale;
    for (const ReceivedFile& entry : ReadReceivedFiles()) {
        auto* row = new QTreeWidgetItem(ui->lvwFiles);
        row->setText(NameColumn, entry.name);
        row->setText(SenderColumn, entry.sender);
        row->setText(TimeColumn, locale.toString(entry.time.toLocalTime(), QLocale::ShortFormat));
        row->setText(SizeColumn, FormatSize(entry.size));
        row->setText(WhereColumn, entry.path.isEmpty() ? entry.failure : entry.path);
        row->setData(NameColumn, PathRole, entry.path);
        if (!entry.failure.isEmpty())
            row->setForeground(WhereColumn, palette().brush(QPalette::PlaceholderText));
    }
    for (int column : {NameColumn, SenderColumn, TimeColumn, SizeColumn})
        ui->lvwFiles->resizeColumnToContents(column);
    connect(ui->lvwFiles, &QTreeWidget::currentItemChanged, this, &frmReceived::updateButtons);
    // Enter and double-click (or a single click where the desktop is set so).
    connect(ui->lvwFiles, &QTreeWidget::itemActivated, this, &frmReceived::openFile);
    connect(ui->cmdShow, &QPushButton::clicked, this, &frmReceived::showInFolder);
    connect(ui->cmdOpen, &QPushButton::clicked, this, &frmReceived::openFile);
    connect(ui->cmdClose, &QPushButton::clicked, this, &frmReceived::Unload);
    ui->lvwFiles->setCurrentItem(ui->lvwFiles->topLevelItem(0));
    updateButtons();
}

frmReceived::~frmReceived() = default;

void frmReceived::updateButtons()
{
    const QTreeWidgetItem* row = ui->lvwFiles->currentItem();
    const bool saved = row && !row->data(NameColumn, PathRole).toString().isEmpty();
    ui->cmdShow->setEnabled(saved);
    ui->cmdOpen->setEnabled(saved);
}

QString frmReceived::chosenFile() const
{
    const QTreeWidgetItem* row = ui->lvwFiles->currentItem();
    const QString path = row ? row->data(NameColumn, PathRole).toString() : QString();
    if (path.isEmpty()) return {};
    if (!QFileInfo::exists(path)) {
        platform::MsgBox(text::FileGone.toString() + u"\r\r'"_s + path + u"'."_s, platform::MsgButtons::OK,
                         platform::MsgIcon::Information);
        return {};
    }
    return path;
}

void frmReceived::showInFolder()
{
    if (const QString path = chosenFile(); !path.isEmpty()) platform::Shell::current().showInFolder(path);
}

void frmReceived::openFile()
{
    const QString path = chosenFile();
    if (!path.isEmpty() && !platform::Shell::current().open(path))
        platform::MsgBox(text::CouldNotOpen.toString() + path + u".\r\r"_s + text::NoAssociation.toString(),
                         platform::MsgButtons::OK, platform::MsgIcon::Information);
}

void frmReceived::closeEvent(QCloseEvent* event)
{
    Unload();
    event->accept();
}

void frmReceived::Unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    hide();
    Q_EMIT Unloaded();
}

} // namespace kv::dorvan
