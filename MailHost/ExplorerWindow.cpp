#include "MailHost/ExplorerWindow.h"

#include "MailHost/Forms.h"
#include "Platform/ControlPlugin.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Prompt.h"
#include "Shared/modReg.h"

#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace kv::host {

namespace {
constexpr int FolderIdRole = Qt::UserRole;
constexpr int EntryIdRole = Qt::UserRole;
constexpr int MaxListedItems = 5000; // beyond this the list says how many more there are
constexpr int ExplorerWidth = 900;
constexpr int ExplorerHeight = 600;
// What assistive technology calls the two panes and says they do.
constexpr QStringView FoldersName = u"Folders";
constexpr QStringView FoldersDescription = u"The folders of the mail store; the one chosen shows its items";
constexpr QStringView ItemsName = u"Items";
constexpr QStringView ItemsDescription = u"The items of the folder; Enter opens the ones chosen";

bool isContactsFolder(const MAPIFolder& f)
{
    return f.DefaultMessageClass().startsWith(u"IPM.Contact"_s, Qt::CaseInsensitive);
}
} // namespace

// ---------------------------------------------------------------- Today page

TodayPage::TodayPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"pageToday"_s);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    m_heading = new QLabel(this);
    m_heading->setObjectName(u"lblTodayHeading"_s);
    QFont f = m_heading->font();
    f.setPointSizeF(f.pointSizeF() * 1.8);
    f.setBold(true);
    m_heading->setFont(f);
    m_date = new QLabel(this);
    m_date->setObjectName(u"lblTodayDate"_s);
    m_counterArea = new QWidget(this);
    m_counterArea->setObjectName(u"fraCounter"_s);
    auto* area = new QVBoxLayout(m_counterArea);
    area->setContentsMargins(0, 16, 0, 0);
    layout->addWidget(m_heading);
    layout->addWidget(m_date);
    layout->addWidget(m_counterArea);
    layout->addStretch(1);
}

void TodayPage::showStore(const QString& storeName)
{
    Q_UNUSED(storeName);
    m_heading->setText(TodayTitle.toString());
    m_date->setText(QLocale().toString(QDate::currentDate(), QLocale::LongFormat));
    ensureCounter();
}

void TodayPage::ensureCounter()
{
    if (m_counterTried) return;
    // The page hosts the counter only once the product has set the Today page up.
    const QString url =
        ReadKeyValue(RegRoot::CurrentUser, TodayKey.toString(), TodayUrlValue.toString(), QString());
    if (url.isEmpty()) return;
    m_counterTried = true;
    QString why;
    m_counter = platform::CreateControl(CounterControlClass.toString(), m_counterArea, &why);
    if (m_counter) {
        m_counter->setObjectName(u"Counter1"_s);
        m_counterArea->layout()->addWidget(m_counter);
        return;
    }
    auto* missing =
        new QLabel(ControlMissingText.toString().arg(CounterControlClass.toString()), m_counterArea);
    missing->setObjectName(u"lblMissingControl"_s);
    missing->setToolTip(why);
    m_counterArea->layout()->addWidget(missing);
}

// ---------------------------------------------------------------- explorer

ExplorerWindow::ExplorerWindow(HostWindowSide* side, HostExplorer* explorer, MAPIFolder folder)
    : m_side(side), m_explorer(explorer), m_folder(std::move(folder))
{
    setObjectName(u"frmExplorer"_s);
    resize(ExplorerWidth, ExplorerHeight);

    buildMenusAndToolBar();
    buildPanes();

    m_count = new QLabel(this);
    m_count->setObjectName(u"lblItemCount"_s);
    statusBar()->addWidget(m_count);

    m_refresh = new QTimer(this);
    m_refresh->setObjectName(u"tmrRefresh"_s);
    m_refresh->setInterval(ExplorerRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, [this] {
        if (isVisible() && itemsSignature() != m_signature) refreshItems();
    });
    m_refresh->start();
    connect(m_side, &HostWindowSide::itemsChanged, this, [this] { refreshItems(); });

    refreshFolders();
    setFolder(m_folder);
}

void ExplorerWindow::buildMenusAndToolBar()
{
    QMenu* file = menuBar()->addMenu(u"&File"_s);
    QMenu* newMenu = file->addMenu(u"&New"_s);
    m_newKivara =
        newMenu->addAction(u"&Kivara Contact"_s, this, [this] { newItem(KivaraContactClass.toString()); });
    m_newKivara->setObjectName(u"mnuNewKivaraContact"_s);
    m_newContact = newMenu->addAction(u"&Contact"_s, this, [this] { newItem(u"IPM.Contact"_s); });
    m_newContact->setObjectName(u"mnuNewContact"_s);
    m_newMail = newMenu->addAction(u"&Mail Message"_s, this, [this] {
        const Item mail = m_side->application().CreateItem(olMailItem);
        if (!mail) return;
        // The signature last saved is the user's signature; new mail starts with it.
        const QFileInfoList signatures =
            QDir(SignaturesFolder()).entryInfoList({u"*.rtf"_s}, QDir::Files | QDir::Readable, QDir::Time);
        if (!signatures.isEmpty()) mail.InsertSignature(signatures.first().filePath());
        mail.Display();
    });
    m_newMail->setObjectName(u"mnuNewMail"_s);
    QAction* open = file->addAction(u"&Open"_s, this, &ExplorerWindow::openSelected);
    open->setShortcut(Qt::CTRL | Qt::Key_O);
    QAction* del = file->addAction(style()->standardIcon(QStyle::SP_TrashIcon), u"&Delete"_s, this,
                                   &ExplorerWindow::deleteSelected);
    del->setShortcut(QKeySequence::Delete);
    file->addSeparator();
    file->addAction(u"&Close"_s, this, &QWidget::close);
    QMenu* view = menuBar()->addMenu(u"&View"_s);
    QAction* refresh = view->addAction(style()->standardIcon(QStyle::SP_BrowserReload), u"&Refresh"_s, this, [this] {
        refreshFolders();
        refreshItems();
    });
    refresh->setShortcut(QKeySequence::Refresh);

    auto* bar = addToolBar(u"Standard"_s);
    bar->setObjectName(u"tbrStandard"_s);
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* newAction = bar->addAction(style()->standardIcon(QStyle::SP_FileIcon), u"New"_s);
    newAction->setObjectName(u"cmdNew"_s);
    connect(newAction, &QAction::triggered, this, [this] {
        if (isContactsFolder(m_folder))
            newItem(IsFormRegistered(m_side->application(), KivaraContactClass.toString())
                        ? KivaraContactClass.toString()
                        : u"IPM.Contact"_s);
        else if (m_newMail)
            m_newMail->trigger();
    });
    bar->addAction(del);
    bar->addAction(refresh);
}

// The folder list beside the heading over the folder's items (or its Today page).
void ExplorerWindow::buildPanes()
{
    auto* splitter = new QSplitter(this);
    splitter->setObjectName(u"splMain"_s);
    m_folders = new QTreeWidget(splitter);
    m_folders->setObjectName(u"tvwFolders"_s);
    m_folders->setHeaderLabel(u"Folder List"_s);
    m_folders->setAccessibleName(FoldersName.toString());
    m_folders->setAccessibleDescription(FoldersDescription.toString());
    m_folders->setMinimumWidth(200);
    connect(m_folders, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) {
        if (m_filling || !row) return;
        const MAPIFolder f =
            m_side->application().GetNamespace(u"MAPI"_s).GetFolderFromID(row->data(0, FolderIdRole).toString());
        if (f) setFolder(f);
    });

    auto* right = new QWidget(splitter);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    m_heading = new QLabel(right);
    m_heading->setObjectName(u"lblFolderHeading"_s);
    m_heading->setContentsMargins(10, 6, 10, 6);
    m_heading->setAutoFillBackground(true);
    // Roles rather than colours, so the heading follows a palette changed later (light or dark).
    m_heading->setBackgroundRole(QPalette::Dark);
    m_heading->setForegroundRole(QPalette::BrightText);
    QFont hf = m_heading->font();
    hf.setPointSizeF(hf.pointSizeF() * 1.4);
    hf.setBold(true);
    m_heading->setFont(hf);
    rightLayout->addWidget(m_heading);
    m_view = new QStackedWidget(right);
    m_items = new QTreeWidget(m_view);
    m_items->setObjectName(u"lvwItems"_s);
    m_items->setAccessibleName(ItemsName.toString());
    m_items->setAccessibleDescription(ItemsDescription.toString());
    m_items->setRootIsDecorated(false);
    m_items->setAlternatingRowColors(true);
    m_items->setSortingEnabled(true);
    m_items->sortByColumn(0, Qt::AscendingOrder); // the header starts out descending
    m_items->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(m_items, &QTreeWidget::itemActivated, this, [this] { openSelected(); });
    m_today = new TodayPage(m_view);
    m_view->addWidget(m_items);
    m_view->addWidget(m_today);
    rightLayout->addWidget(m_view, 1);
    splitter->addWidget(m_folders);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, ExplorerWidth - 230});
    setCentralWidget(splitter);
}

void ExplorerWindow::addFolderRows(QTreeWidgetItem* parent, const Folders& folders)
{
    for (const MAPIFolder& f : folders.toList()) {
        auto* row = new QTreeWidgetItem(parent);
        row->setText(0, f.Name());
        row->setData(0, FolderIdRole, f.EntryID());
        row->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
        addFolderRows(row, f.Folders());
    }
}

void ExplorerWindow::refreshFolders()
{
    m_filling = true;
    m_folders->clear();
    const Folders stores = m_side->application().GetNamespace(u"MAPI"_s).Folders();
    for (const MAPIFolder& s : stores.toList()) {
        auto* row = new QTreeWidgetItem(m_folders);
        row->setText(0, s.Name());
        row->setData(0, FolderIdRole, s.EntryID());
        row->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
        addFolderRows(row, s.Folders());
        row->setExpanded(true);
    }
    ClearErr();
    selectFolderRow();
    m_filling = false;
}

void ExplorerWindow::selectFolderRow()
{
    const QString id = m_folder.EntryID();
    for (QTreeWidgetItemIterator it(m_folders); *it; ++it) {
        if ((*it)->data(0, FolderIdRole).toString() == id) {
            const bool filling = m_filling;
            m_filling = true;
            m_folders->setCurrentItem(*it);
            for (QTreeWidgetItem* p = (*it)->parent(); p; p = p->parent())
                p->setExpanded(true);
            m_filling = filling;
            return;
        }
    }
}

bool ExplorerWindow::setFolder(const MAPIFolder& folder)
{
    ClearErr();
    if (!folder) return detail::NothingErr();
    const QString name = folder.Name();
    if (Err()) return false; // gone or offline
    m_folder = folder;
    setWindowTitle(name + u" - "_s + HostTitle.toString());
    m_heading->setText(name);
    if (m_folders->topLevelItemCount() == 0 || m_folders->findItems(name, Qt::MatchExactly | Qt::MatchRecursive).isEmpty())
        refreshFolders();
    selectFolderRow();
    if (folder.IsStore()) {
        m_today->showStore(name);
        m_view->setCurrentWidget(m_today);
        m_count->clear();
    } else {
        m_view->setCurrentWidget(m_items);
        refreshItems();
    }
    updateNewActions();
    ClearErr();
    return true;
}

void ExplorerWindow::updateNewActions()
{
    const bool contacts = isContactsFolder(m_folder);
    m_newKivara->setEnabled(contacts &&
                            IsFormRegistered(m_side->application(), KivaraContactClass.toString()));
    m_newContact->setEnabled(contacts);
    ClearErr();
}

QString ExplorerWindow::itemsSignature() const
{
    if (!m_folder || m_view->currentWidget() != m_items) return {};
    const int n = m_folder.Items().Count();
    ClearErr();
    return QString::number(n);
}

void ExplorerWindow::refreshItems()
{
    if (!m_folder || m_view->currentWidget() != m_items) return;
    const bool contacts = isContactsFolder(m_folder);
    QStringList keep;
    for (QTreeWidgetItem* row : m_items->selectedItems())
        keep.append(row->data(0, EntryIdRole).toString());
    m_items->setSortingEnabled(false);
    m_items->clear();
    if (contacts)
        m_items->setHeaderLabels({u"Full Name"_s, u"Company"_s, u"E-mail"_s, u"Status"_s});
    else
        m_items->setHeaderLabels({u"From"_s, u"Subject"_s, u"Attachments"_s});
    const Items items = m_folder.Items();
    const int total = items.Count();
    int listed = 0;
    for (const Item& it : items) {
        if (listed >= MaxListedItems) break;
        ++listed;
        auto* row = new QTreeWidgetItem(m_items);
        row->setData(0, EntryIdRole, it.EntryID());
        if (contacts) {
            row->setText(0, it.FullName());
            row->setText(1, it.CompanyName());
            row->setText(2, it.Email1Address());
            const UserProperty status = it.UserProperties().Find(u"UserStatus"_s);
            if (status) row->setText(3, status.Value().toString());
            row->setIcon(0, style()->standardIcon(QStyle::SP_FileDialogContentsView));
        } else {
            row->setText(0, it.SentOnBehalfOfName());
            row->setText(1, it.Subject());
            const int n = it.Attachments().Count();
            if (n > 0) row->setText(2, QString::number(n));
            row->setIcon(0, style()->standardIcon(QStyle::SP_FileIcon));
            const UserProperty read = it.UserProperties().Find(MsgReadProperty.toString());
            if (read && !read.Value().toBool()) {
                QFont f = row->font(0);
                f.setBold(true);
                for (int c = 0; c < m_items->columnCount(); ++c)
                    row->setFont(c, f);
            }
        }
        if (keep.contains(it.EntryID())) row->setSelected(true);
    }
    m_items->setSortingEnabled(true);
    for (int c = 0; c < m_items->columnCount(); ++c)
        m_items->resizeColumnToContents(c);
    m_items->header()->setStretchLastSection(true);
    m_count->setText(total == 0       ? NoItemsText.toString()
                     : total > listed ? u"%1 Items (%2 shown)"_s.arg(total).arg(listed)
                                      : u"%1 Items"_s.arg(total));
    m_signature = QString::number(total);
    ClearErr();
}

Item ExplorerWindow::itemAtRow(QTreeWidgetItem* row) const
{
    if (!row) return {};
    return m_side->application().GetNamespace(u"MAPI"_s).GetItemFromID(row->data(0, EntryIdRole).toString());
}

void ExplorerWindow::openSelected()
{
    const QList<QTreeWidgetItem*> rows = m_items->selectedItems();
    for (QTreeWidgetItem* row : rows) {
        const Item it = itemAtRow(row);
        if (it) it.Display();
    }
    ClearErr();
}

void ExplorerWindow::deleteSelected()
{
    const QList<QTreeWidgetItem*> rows = m_items->selectedItems();
    QList<Item> items;
    for (QTreeWidgetItem* row : rows)
        if (const Item it = itemAtRow(row)) items.append(it);
    for (const Item& it : items)
        it.Delete();
    ClearErr();
    refreshFolders();
    refreshItems();
}

void ExplorerWindow::newItem(const QString& messageClass)
{
    const Item it = m_folder.Items().Add(messageClass);
    if (!it) {
        platform::MsgBox(Err() ? Err().Description
                               : u"The form for \"%1\" is not installed."_s.arg(messageClass),
                         platform::MsgButtons::OK, platform::MsgIcon::Information, HostTitle.toString());
        return;
    }
    it.Display();
}

void ExplorerWindow::closeEvent(QCloseEvent* event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    event->ignore();
    m_explorer->windowClosed();
}

void ExplorerWindow::changeEvent(QEvent* event)
{
    // Once closing, the explorer may already be gone.
    if (!m_closing && event->type() == QEvent::ActivationChange && isActiveWindow()) {
        m_explorer->activated();
        if (itemsSignature() != m_signature) refreshItems();
    }
    QMainWindow::changeEvent(event);
}

} // namespace kv::host
