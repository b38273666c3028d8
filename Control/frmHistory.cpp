#include "Control/frmHistory.h"

#include "Control/Icons.h"
#include "Control/Session/History.h"
#include "Platform/Prompt.h"
#include "ui_frmHistory.h"

#include <QHeaderView>
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>

using namespace Qt::StringLiterals;

namespace kv::control {

namespace {
// The item's line, in the first column's data.
constexpr int IdRole = Qt::UserRole;
} // namespace

frmHistory::frmHistory(std::shared_ptr<History> history, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmHistory>()), m_history(std::move(history))
{
    ui->setupUi(this);
    setWindowIcon(ProductIcon());
    ui->lstResults->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->lstResults->header()->setStretchLastSection(true);
    connect(ui->txtSearch, &QLineEdit::textChanged, this, &frmHistory::search);
    // Enter in the box goes on to the lines found.
    connect(ui->txtSearch, &QLineEdit::returnPressed, ui->lstResults, [this] { ui->lstResults->setFocus(); });
    // Activation is a double-click or Enter.
    connect(ui->lstResults, &QTreeWidget::itemActivated, this, &frmHistory::openLine);
    connect(ui->cmdClose, &QPushButton::clicked, this, &QDialog::reject);
}

frmHistory::~frmHistory() = default;

void frmHistory::search()
{
    ui->lstResults->clear();
    ui->txtContext->clear();
    const QString words = ui->txtSearch->text();
    QList<QTreeWidgetItem*> items;
    for (const HistoryLine& line : m_history->search(words)) {
        auto* item = new QTreeWidgetItem(
            {line.time.toLocalTime().toString(TimeFormat.toString()), line.room, line.sender, line.text});
        item->setData(0, IdRole, line.id);
        items << item;
    }
    ui->lstResults->addTopLevelItems(items);
    if (!items.isEmpty()) ui->lstResults->setCurrentItem(items.first());
    const QString found = items.size() == 1 ? FoundOne.toString() : FoundMany.toString().arg(items.size());
    ui->lblCount->setText(words.trimmed().isEmpty() ? QString() : found);
}

void frmHistory::openLine(QTreeWidgetItem* item)
{
    if (!item) return;
    const qint64 id = item->data(0, IdRole).toLongLong();
    QTextDocument* document = ui->txtContext->document();
    document->clear();
    QTextCursor cursor(document);
    int opened = -1;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (const HistoryLine& line : m_history->context(id)) {
        if (!document->isEmpty()) cursor.insertBlock();
        if (line.id == id) opened = cursor.blockNumber();
        cursor.insertText(line.time.toLocalTime().toString(TimeFormat.toString()) + u"  "_s,
                          QTextCharFormat());
        cursor.insertText(line.sender, bold);
        cursor.insertText(u'\t' + line.text, QTextCharFormat());
    }
    // The opened line is shown selected.
    if (opened < 0) return;
    QTextCursor line(document->findBlockByNumber(opened));
    line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    ui->txtContext->setTextCursor(line);
    ui->txtContext->ensureCursorVisible();
}

void frmHistory::Run(std::shared_ptr<History> history, QWidget* parent)
{
    QPointer<frmHistory> dialog = new frmHistory(std::move(history), parent);
    platform::Prompt::current().formShown(dialog);
    dialog->exec();
    delete dialog;
}

} // namespace kv::control
