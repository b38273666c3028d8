#include "Counter/Counter.h"

#include "Counter/Log.h"
#include "Platform/Events.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Shared/StoreAccess.h"
#include "Shared/modReg.h"

#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

using namespace Qt::StringLiterals;

// The resources of a static library are brought in by name.
static void InitTallyoResources()
{
    Q_INIT_RESOURCE(tallyo);
}

namespace kv::tallyo {

namespace {

using namespace kv::outlook;

constexpr QChar CR = u'\r';
constexpr int IconSize = 32;

void Notice(const QString& message)
{
    platform::MsgBox(message, platform::MsgButtons::OK, platform::MsgIcon::Information);
}

bool IsNotFound(qint32 number)
{
    return number == ErrNo::Exception || number == ErrNo::NotFound;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, const QFont& font)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setMouseTracking(true);
    return label;
}

} // namespace

Counter::Counter(QWidget* parent, int refreshMs) : QWidget(parent)
{
    InitTallyoResources();
    setObjectName(u"Counter"_s);
    setMouseTracking(true);

    m_store = std::make_unique<StoreAccess>(Deliverable::Tallyo);
    // The refresh asks every second: a question or notice about a missing store is shown once.
    m_store->setAskOnce(true);
    m_folderName = m_store->folderName();

    m_img = new QLabel(this);
    m_img->setObjectName(u"imgMain"_s);
    m_img->setPixmap(QIcon(u":/tallyo/kivara.svg"_s).pixmap(IconSize, IconSize));
    m_img->installEventFilter(this);

    QFont arial(u"Arial"_s);
    arial.setPointSizeF(15);
    QFont tahoma(u"Tahoma"_s);
    tahoma.setPointSizeF(8.25);
    m_title = MakeLabel(this, u"lblMain_2"_s, text::ProductLabel.toString(), arial);
    m_folder = MakeLabel(this, u"lblMain_0"_s, u"Messages"_s, tahoma);
    m_count = MakeLabel(this, u"lblMain_1"_s, QString(), tahoma);
    for (QLabel* label : {m_title, m_folder, m_count})
        label->installEventFilter(this);

    m_img->setGeometry(TwipsToPixelsX(twips::ImageLeft), TwipsToPixelsY(twips::ImageTop), IconSize, IconSize);
    m_title->setGeometry(TwipsToPixelsX(twips::TitleLeft), TwipsToPixelsY(twips::TitleTop),
                         TwipsToPixelsX(twips::TitleWidth), TwipsToPixelsY(twips::TitleHeight));
    m_folder->setGeometry(TwipsToPixelsX(twips::FolderLeft), TwipsToPixelsY(twips::FolderTop),
                          TwipsToPixelsX(twips::FolderWidth), TwipsToPixelsY(twips::FolderHeight));
    m_count->move(0, TwipsToPixelsY(twips::CountTop));

    m_timer = new QTimer(this);
    m_timer->setObjectName(u"tmrMain"_s);
    m_timer->setInterval(refreshMs);
    connect(m_timer, &QTimer::timeout, this, &Counter::Refresh);

    Refresh();
    m_timer->start();
}

Counter::~Counter()
{
    m_timer->stop();
    m_msgFolder = {};
    m_kvFolder = {};
    m_store->Release();
}

int Counter::TwipsToPixelsX(int twips) const
{
    return qRound(double(twips) * logicalDpiX() / twips::TwipsPerInch);
}

int Counter::TwipsToPixelsY(int twips) const
{
    return qRound(double(twips) * logicalDpiY() / twips::TwipsPerInch);
}

// ---- store access -----------------------------------------------------------

int Counter::GetOutlook()
{
    return m_store->GetOutlook();
}

int Counter::SetKVFolder(const QString& folderName)
{
    const qint32 connected = GetOutlook();
    if (!m_store->application()) return connected ? connected : -1;
    if (m_kvFolder && m_kvFolder.Name() == folderName) return 0;

    const NameSpace ns = m_store->application().GetNamespace(MapiNamespace.toString());
    const MAPIFolder folder = ns.Folders().Item(m_store->serviceName()).Folders().Item(folderName);
    if (folder) {
        m_kvFolder = folder;
        return 0;
    }
    const OlError error = Err();
    if (IsNotFound(error.Number)) return CreateKVFolder() == 0 ? 0 : -1;
    m_store->ShowOpenError(error);
    return -1;
}

int Counter::SetKMFolder(const QString& folderName)
{
    const qint32 connected = GetOutlook();
    if (!m_store->application()) return connected ? connected : -1;
    if (!m_kvFolder && SetKVFolder(m_folderName) != 0) return -1;
    if (m_msgFolder && m_msgFolder.Name() == folderName) return 0;

    const MAPIFolder folder = m_kvFolder.Folders().Item(folderName);
    if (folder) {
        m_msgFolder = folder;
        return 0;
    }
    const OlError error = Err();
    if (IsNotFound(error.Number) || error.Number == ErrNo::CantCallOut) return CreateKMFolder();
    m_store->ShowOpenError(error);
    return -1;
}

void Counter::ShowCreateFailed(const QString& name, const QString& detail) const
{
    m_store->ask(text::CreateFailedHead.toString() + name + text::CreateFailedTail.toString() + CR + CR +
                     detail,
                 platform::MsgButtons::OK, platform::MsgIcon::Information);
}

int Counter::CreateKMFolder()
{
    const QString name = MsgFolderSetting();
    if (m_store->serviceName().isEmpty()) {
        m_store->ask(NoServiceText(), platform::MsgButtons::OK, platform::MsgIcon::Information);
        return -1;
    }
    const qint32 connected = GetOutlook();
    if (!m_store->application()) {
        const OlError error = Err();
        ShowCreateFailed(name, error.Description);
        return connected ? connected : (error.Number ? error.Number : -1);
    }
    if (!m_kvFolder && SetKVFolder(m_folderName) != 0) return -1;
    MAPIFolder added = m_kvFolder.Folders().Add(name, olFolderInbox);
    // The folder may exist already; then that one is the Messages folder.
    if (!added) added = m_kvFolder.Folders().Item(name);
    if (!added) {
        const OlError error = Err();
        ShowCreateFailed(name, error.Description);
        return error.Number ? error.Number : -1;
    }
    m_msgFolder = added;
    return 0;
}

int Counter::CreateKVFolder()
{
    if (m_store->serviceName().isEmpty()) {
        m_store->ask(NoServiceText(), platform::MsgButtons::OK, platform::MsgIcon::Information);
        return -1;
    }
    const qint32 connected = GetOutlook();
    if (!m_store->application()) {
        ShowCreateFailed(m_folderName, QString());
        return connected ? connected : -1;
    }
    const StoreAccess::StoreCheckResult check = m_store->CheckStore();
    switch (check.outcome) {
    case StoreAccess::StoreCheck::Declined:
    case StoreAccess::StoreCheck::Unavailable:
        return -1;
    case StoreAccess::StoreCheck::Failed: {
        QString hint;
        if (check.error.Number == ErrNo::StoreFailed) {
            hint = text::ConnectHint.toString();
        } else {
            // No store of either kind to hold the folder.
            const Folders stores = m_store->application().GetNamespace(MapiNamespace.toString()).Folders();
            bool anyStore = false;
            for (int i = 1; i <= stores.Count(); ++i) {
                const QString storeName = stores.Item(i).Name();
                anyStore |= storeName == PersonalFoldersName.toString() ||
                            storeName.contains(MailboxMarker.toString());
            }
            if (!anyStore) hint = text::InstallServiceHint.toString();
        }
        ShowCreateFailed(m_folderName, hint);
        return check.error.Number ? check.error.Number : -1;
    }
    case StoreAccess::StoreCheck::Present:
        break;
    }
    const MAPIFolder product = m_store->AddProductFolder(check.store);
    if (!product) {
        const OlError error = Err();
        ShowCreateFailed(m_folderName,
                         error.Number == ErrNo::StoreFailed ? text::ConnectHint.toString() : QString());
        return error.Number ? error.Number : -1;
    }
    m_kvFolder = product;
    if (check.relocated) Notice(storetext::LocationChanged.toString());
    return 0;
}

QString Counter::MsgFolderSetting() const
{
    return ReadSetting(Deliverable::Tallyo, settings::MsgFolder);
}

// ---- refresh and layout -------------------------------------------------------

void Counter::Refresh()
{
    // A tick that waits (events, a message box) must not start another.
    if (m_refreshing) return;
    m_refreshing = true;
    const QString name = MsgFolderSetting();
    m_folder->setText(name);
    platform::DoEvents();
    if (!m_msgFolder) SetKMFolder(name);
    int count = 0;
    if (m_msgFolder) {
        m_store->forgetAnswers();
        const Items unread = m_msgFolder.Items().Restrict(UnreadFilter.toString());
        count = unread ? unread.Count() : 0;
        // Shown as no new messages; the next tick asks again.
        if (Err())
            qCDebug(lcCounter, "unread messages in '%s' not counted: %s", qUtf8Printable(name),
                    qUtf8Printable(Err().Description));
        ClearErr();
    }
    m_count->setText(count != 0 ? QString::number(count) + text::UnreadSuffix.toString()
                                : text::NoNewMessages.toString());
    Layout();
    m_refreshing = false;
}

void Counter::Layout()
{
    if (m_layingOut) return;
    m_layingOut = true;
    // The folder's name keeps its designed width unless this screen's font needs more.
    m_folder->resize(qMax(TwipsToPixelsX(twips::FolderWidth), m_folder->sizeHint().width()),
                     m_folder->height());
    m_count->adjustSize();
    m_count->move(m_folder->x() + m_folder->width() + TwipsToPixelsX(twips::CountGap),
                  TwipsToPixelsY(twips::CountTop));
    const int width = m_count->x() + m_count->width() + TwipsToPixelsX(twips::RightMargin);
    const int height = TwipsToPixelsY(twips::ControlHeight);
    setFixedSize(width, height);
    m_layingOut = false;
}

void Counter::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
}

// ---- pointer and clicks ---------------------------------------------------------

void Counter::SetUnderline(QLabel* label, bool on)
{
    QFont font = label->font();
    if (font.underline() == on) return;
    font.setUnderline(on);
    label->setFont(font);
}

void Counter::mouseMoveEvent(QMouseEvent* event)
{
    SetUnderline(m_folder, false);
    SetUnderline(m_title, false);
    QWidget::mouseMoveEvent(event);
}

bool Counter::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool mouse = type == QEvent::MouseMove || type == QEvent::MouseButtonPress ||
                       type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick;
    if (!mouse) return QWidget::eventFilter(watched, event);

    if (watched == m_count) return true; // the count reacts to nothing
    if (watched == m_img) {
        if (type == QEvent::MouseButtonRelease) ShowMessagesFolder();
        return true;
    }
    auto* label = qobject_cast<QLabel*>(watched);
    if (label != m_folder && label != m_title) return QWidget::eventFilter(watched, event);

    const auto* mouseEvent = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseMove) {
        const QPoint at = mouseEvent->position().toPoint();
        if (at.x() >= 0 && at.x() < label->width() && at.y() >= 0 && at.y() < label->height())
            SetUnderline(label, true);
    } else if (type == QEvent::MouseButtonRelease && label->font().underline()) {
        ShowMessagesFolder();
    }
    return true;
}

void Counter::ShowMessagesFolder()
{
    if (!m_msgFolder) SetKMFolder(MsgFolderSetting());
    if (!m_msgFolder || !m_store->application()) return;
    if (const std::shared_ptr<Explorer> explorer = m_store->application().ActiveExplorer())
        explorer->setCurrentFolder(m_msgFolder);
    ClearErr();
}

} // namespace kv::tallyo
