#pragma once
// The Today page's counter: how many messages in the product's Messages
// folder are unread, refreshed every second; clicking it shows that folder in
// the mail host's window. It carries its own variants of the store access.
#include "Platform/Outlook/Outlook.h"

#include <QString>
#include <QWidget>
#include <memory>

class QLabel;
class QTimer;

namespace kv {
class StoreAccess;
}

namespace kv::tallyo {

namespace text {
inline constexpr QStringView ProductLabel = u"Kivara";
inline constexpr QStringView NoNewMessages = u"No new messages";
inline constexpr QStringView UnreadSuffix = u" unread";
inline constexpr QStringView CreateFailedHead = u"Could not create the '";
inline constexpr QStringView CreateFailedTail = u"' folder in Outlook.";
inline constexpr QStringView ConnectHint =
    u"You must connect to the network to access the information store.";
inline constexpr QStringView InstallServiceHint =
    u"Install the 'Microsoft Exchange Server' or 'Personal Folders' service.";
} // namespace text

// The unread messages: those whose "MsgRead" is false.
inline constexpr QStringView UnreadFilter = u"[MsgRead] = False";
inline constexpr int RefreshIntervalMs = 1000;

// Layout in twips (1440 to the logical inch).
namespace twips {
inline constexpr int TwipsPerInch = 1440;
inline constexpr int ImageLeft = 30, ImageTop = 60;
inline constexpr int TitleLeft = 540, TitleTop = 15, TitleWidth = 1410, TitleHeight = 345;
inline constexpr int FolderLeft = 570, FolderTop = 580, FolderWidth = 705, FolderHeight = 195;
inline constexpr int CountTop = 580;
inline constexpr int CountGap = 270;   // between the folder name and the count
inline constexpr int RightMargin = 30; // after the count
inline constexpr int ControlHeight = 795;
} // namespace twips

class Counter : public QWidget {
    Q_OBJECT
public:
    explicit Counter(QWidget* parent = nullptr, int refreshMs = RefreshIntervalMs);
    ~Counter() override;

    // 0 on success; -1, or GetOutlook's error number, otherwise.
    Q_INVOKABLE int SetKVFolder(const QString& folderName);
    Q_INVOKABLE int SetKMFolder(const QString& folderName);
    Q_INVOKABLE int CreateKMFolder();
    Q_INVOKABLE int CreateKVFolder();
    Q_INVOKABLE int GetOutlook();

    // One tick of tmrMain.
    void Refresh();
    // Switches the mail host's active window to the Messages folder.
    void ShowMessagesFolder();

    // Twips at the screen's logical resolution.
    int TwipsToPixelsX(int twips) const;
    int TwipsToPixelsY(int twips) const;

    const outlook::MAPIFolder& messagesFolder() const { return m_msgFolder; }
    const outlook::MAPIFolder& productFolder() const { return m_kvFolder; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Layout();
    void SetUnderline(QLabel* label, bool on);
    QString MsgFolderSetting() const;
    void ShowCreateFailed(const QString& name, const QString& detail) const;

    std::unique_ptr<StoreAccess> m_store;
    outlook::MAPIFolder m_kvFolder;
    outlook::MAPIFolder m_msgFolder;
    QString m_folderName;
    QLabel* m_img = nullptr;
    QLabel* m_title = nullptr;  // lblMain(2)
    QLabel* m_folder = nullptr; // lblMain(0)
    QLabel* m_count = nullptr;  // lblMain(1)
    QTimer* m_timer = nullptr;
    bool m_refreshing = false;
    bool m_layingOut = false;
};

} // namespace kv::tallyo
