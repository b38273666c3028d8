#include "Vigilo/Opener/frmConvert.h"

#include "Platform/Prompt.h"
#include "Shared/StoreAccess.h"
#include "Vigilo/Opener/frmOpen.h"
#include "ui_frmConvert.h"

#include <QApplication>
#include <QCloseEvent>

using namespace Qt::StringLiterals;

namespace kv::dorvan {

namespace {
// An entry reads "'" + name + "' folder".
constexpr int EntryHeadLength = 1;
constexpr int EntryTailLength = 8;
} // namespace

frmConvert::frmConvert(frmOpen* owner, const QString& store, const QString& productFolder)
    : ui(std::make_unique<Ui::frmConvert>()), m_owner(owner), m_store(store), m_productFolder(productFolder)
{
    ui->setupUi(this);
    connect(ui->Command1, &QPushButton::clicked, this, &frmConvert::Command1Click);
}

frmConvert::~frmConvert() = default;

void frmConvert::Load()
{
    show();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    StoreAccess access(Deliverable::Dorvan);
    ui->cboMain->clear();
    ui->cboMain->addItems(access.ListContactFolders(m_productFolder));
    if (ui->cboMain->count() > 0) ui->cboMain->setCurrentIndex(0);
    QApplication::restoreOverrideCursor();
}

QString frmConvert::SelectedFolder() const
{
    const QString entry = ui->cboMain->currentText();
    if (entry.size() <= EntryHeadLength + EntryTailLength) return {};
    return entry.mid(EntryHeadLength, entry.size() - EntryHeadLength - EntryTailLength);
}

void frmConvert::Command1Click()
{
    const QString folder = SelectedFolder();
    if (folder.isEmpty()) return;
    const bool toKivara = ui->Option1_0->isChecked();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int result =
        toKivara ? m_owner->UpdateFormsToKV(folder, m_store) : m_owner->UpdateFormsToMO(folder, m_store);
    QApplication::restoreOverrideCursor();
    if (result != 0) return;
    platform::MsgBox(text::ItemsUpdated.toString() +
                         (toKivara ? text::NowKivaraContacts : text::NowStandardContacts).toString(),
                     platform::MsgButtons::OK, platform::MsgIcon::Information);
}

void frmConvert::closeEvent(QCloseEvent* event)
{
    event->accept();
    Unload();
}

void frmConvert::Unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    hide();
    Q_EMIT Unloaded();
}

} // namespace kv::dorvan
