#pragma once
// The folder window: the information stores with their folder trees on the
// left, the items of the current folder (or, for a store, the Today page) on
// the right. Double-clicking an item opens it.
#include "MailHost/HostWindowSide.h"

#include <QMainWindow>

class QTreeWidget;
class QTreeWidgetItem;
class QStackedWidget;
class QLabel;
class QTimer;

namespace kv::host {

inline constexpr QStringView TodayTitle = u"Outlook Today";
inline constexpr QStringView CounterControlClass = u"Counter";
inline constexpr QStringView NoItemsText = u"There are no items to show in this view.";
// How often the window looks for items that another program added.
inline constexpr int ExplorerRefreshMs = 3000;

// The Today page of a store: the date, and the Counter control when the
// Today "Url" value is set.
class TodayPage : public QWidget {
    Q_OBJECT
public:
    explicit TodayPage(QWidget* parent = nullptr);
    void showStore(const QString& storeName);
    // The hosted counter, or nullptr when it is not set up or missing.
    QWidget* counter() const { return m_counter; }

private:
    void ensureCounter();
    QLabel* m_heading;
    QLabel* m_date;
    QWidget* m_counterArea;
    QWidget* m_counter = nullptr;
    bool m_counterTried = false;
};

class ExplorerWindow : public QMainWindow {
    Q_OBJECT
public:
    ExplorerWindow(HostWindowSide* side, HostExplorer* explorer, MAPIFolder folder);

    MAPIFolder folder() const { return m_folder; }
    bool setFolder(const MAPIFolder& folder);
    void refreshFolders();
    void refreshItems();
    void setClosing() { m_closing = true; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenusAndToolBar();
    void buildPanes();
    void addFolderRows(QTreeWidgetItem* parent, const Folders& folders);
    void selectFolderRow();
    void openSelected();
    void newItem(const QString& messageClass);
    void deleteSelected();
    void updateNewActions();
    Item itemAtRow(QTreeWidgetItem* row) const;
    QString itemsSignature() const;

    HostWindowSide* m_side;
    HostExplorer* m_explorer;
    MAPIFolder m_folder;
    QTreeWidget* m_folders;
    QStackedWidget* m_view;
    QTreeWidget* m_items;
    TodayPage* m_today;
    QLabel* m_heading;
    QLabel* m_count;
    QAction* m_newContact = nullptr;
    QAction* m_newKivara = nullptr;
    QAction* m_newMail = nullptr;
    QTimer* m_refresh;
    QString m_signature;
    bool m_closing = false;
    bool m_filling = false;
};

} // namespace kv::host
