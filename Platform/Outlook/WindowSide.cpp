#include "Platform/Outlook/WindowSide.h"

using namespace Qt::StringLiterals;

namespace kv::outlook {

using detail::SetErr;

namespace {
std::shared_ptr<WindowSide> g_side;

const QString ClosedText = u"The window has been closed."_s;
const QString NoPageText = u"Array index out of bounds."_s;
// Standard pages every form has besides its custom ones.
const QStringList StandardPages = {u"General"_s,      u"Details"_s,    u"Activities"_s,
                                   u"Certificates"_s, u"All Fields"_s, u"Message"_s};
} // namespace

std::shared_ptr<WindowSide> WindowSide::current()
{
    if (!g_side) g_side = std::make_shared<HeadlessWindowSide>();
    return g_side;
}

void WindowSide::install(std::shared_ptr<WindowSide> side)
{
    g_side = std::move(side);
}

// ---------------------------------------------------------------- pages

HeadlessWindowSide::Page::~Page()
{
    release();
}

void HeadlessWindowSide::Page::release()
{
    // A control may be closing its own form from inside one of its members.
    for (const QPointer<QObject>& c : std::as_const(m_controls))
        if (c) c->deleteLater();
    m_controls.clear();
}

QObject* HeadlessWindowSide::Page::Controls(const QString& name)
{
    ClearErr();
    QObject* c = m_controls.value(name);
    if (!c) SetErr(ErrNo::BadIndex, NoPageText);
    return c;
}

void HeadlessWindowSide::Page::addControl(const QString& name, QObject* control)
{
    if (control && control->objectName().isEmpty()) control->setObjectName(name);
    m_controls.insert(name, control);
}

// ---------------------------------------------------------------- inspector

class HeadlessWindowSide::HInspector : public Inspector, public std::enable_shared_from_this<HInspector> {
public:
    HInspector(HeadlessWindowSide* side, Item item) : m_side(side), m_item(std::move(item)) {}

    Item CurrentItem() override
    {
        ClearErr();
        if (m_closed) {
            SetErr(ErrNo::NotFound, ClosedText);
            return {};
        }
        return m_item;
    }

    bool Display(bool modal) override
    {
        Q_UNUSED(modal);
        ClearErr();
        if (m_closed) return SetErr(ErrNo::NotFound, ClosedText);
        buildPages();
        const bool first = !m_displayed;
        m_displayed = true;
        auto self = shared_from_this();
        m_side->m_inspectors.removeAll(self);
        m_side->m_inspectors.append(self);
        if (first) {
            // The message form marks a message read when it is opened.
            const UserProperty read = m_item.UserProperties().Find(u"MsgRead"_s);
            if (read && !read.Value().toBool()) {
                read.setValue(true);
                if (!m_item.EntryID().isEmpty()) m_item.Save();
            }
        }
        ClearErr();
        Q_EMIT m_side->inspectorDisplayed(m_item.EntryID(), m_item.MessageClass());
        return true;
    }

    bool Close(int saveMode) override
    {
        ClearErr();
        if (m_closed) return true;
        if (saveMode == olSave && !m_item.Save()) return false;
        m_closed = true;
        for (const auto& page : std::as_const(m_pages))
            page->release();
        m_pages.clear();
        m_side->m_inspectors.removeAll(shared_from_this());
        if (saveMode != olSave)
            m_item.Close(olDiscard); // no longer open here, so this only drops the changes
        ClearErr();
        Q_EMIT m_side->inspectorClosed();
        return true;
    }

    bool SetCurrentFormPage(const QString& pageName) override
    {
        ClearErr();
        if (m_closed) return SetErr(ErrNo::NotFound, ClosedText);
        buildPages();
        if (!m_pages.contains(pageName) && !StandardPages.contains(pageName, Qt::CaseInsensitive))
            return SetErr(ErrNo::Exception, u"Could not find the form page \"%1\"."_s.arg(pageName));
        m_currentPage = pageName;
        return true;
    }

    std::shared_ptr<FormPage> ModifiedFormPages(const QString& pageName) override
    {
        ClearErr();
        if (m_closed) {
            SetErr(ErrNo::NotFound, ClosedText);
            return nullptr;
        }
        buildPages();
        auto page = m_pages.value(pageName);
        if (!page) SetErr(ErrNo::BadIndex, NoPageText);
        return page;
    }

    QString CurrentFormPage() override { return m_currentPage; }
    bool IsDisplayed() override { return m_displayed && !m_closed; }

    bool closed() const { return m_closed; }
    const Item& item() const { return m_item; }

private:
    void buildPages()
    {
        if (m_built) return;
        m_built = true;
        const QString cls = m_item.MessageClass();
        for (const Builder& b : std::as_const(m_side->m_builders)) {
            if (b.messageClass.compare(cls, Qt::CaseInsensitive) != 0) continue;
            auto page = std::make_shared<Page>();
            m_pages.insert(b.page, page);
            b.build(shared_from_this(), *page);
        }
        ClearErr();
    }

    HeadlessWindowSide* m_side;
    Item m_item;
    bool m_displayed = false;
    bool m_closed = false;
    bool m_built = false;
    QString m_currentPage = u"General"_s;
    QHash<QString, std::shared_ptr<Page>> m_pages;
};

// ---------------------------------------------------------------- explorer

class HeadlessWindowSide::HExplorer : public Explorer, public std::enable_shared_from_this<HExplorer> {
public:
    HExplorer(HeadlessWindowSide* side, MAPIFolder folder) : m_side(side), m_folder(std::move(folder)) {}

    MAPIFolder CurrentFolder() override
    {
        ClearErr();
        return m_folder;
    }
    bool setCurrentFolder(const MAPIFolder& folder) override
    {
        ClearErr();
        if (!folder) return SetErr(ErrNo::ObjectNotSet, u"Object variable or With block variable not set"_s);
        m_folder = folder;
        return true;
    }
    bool Display() override
    {
        ClearErr();
        m_displayed = true;
        return Activate();
    }
    bool Activate() override
    {
        ClearErr();
        if (!m_displayed) return Display();
        auto self = shared_from_this();
        m_side->m_explorers.removeAll(self);
        m_side->m_explorers.append(self);
        const QString name = m_folder.Name();
        ClearErr();
        Q_EMIT m_side->explorerDisplayed(name);
        return true;
    }
    bool Close() override
    {
        ClearErr();
        m_displayed = false;
        m_side->m_explorers.removeAll(shared_from_this());
        return true;
    }

private:
    HeadlessWindowSide* m_side;
    MAPIFolder m_folder;
    bool m_displayed = false;
};

// ---------------------------------------------------------------- side

HeadlessWindowSide::HeadlessWindowSide(bool running) : m_running(running) {}

void HeadlessWindowSide::setPageBuilder(const QString& messageClass, const QString& pageName,
                                        PageBuilder builder)
{
    m_builders.append({messageClass, pageName, std::move(builder)});
}

bool HeadlessWindowSide::Start()
{
    if (!m_running && m_startable) m_running = true;
    return m_running;
}

std::shared_ptr<Explorer> HeadlessWindowSide::ActiveExplorer()
{
    return m_explorers.isEmpty() ? nullptr : m_explorers.last();
}

std::shared_ptr<Inspector> HeadlessWindowSide::ActiveInspector()
{
    return m_inspectors.isEmpty() ? nullptr : m_inspectors.last();
}

std::shared_ptr<Explorer> HeadlessWindowSide::GetExplorer(const MAPIFolder& folder)
{
    ClearErr();
    return std::make_shared<HExplorer>(this, folder);
}

std::shared_ptr<Inspector> HeadlessWindowSide::FindInspector(const Item& item)
{
    for (const auto& i : std::as_const(m_inspectors))
        if (i->item() == item || i->item().isSameStored(item)) return i;
    return nullptr;
}

std::shared_ptr<Inspector> HeadlessWindowSide::GetInspector(const Item& item)
{
    ClearErr();
    if (auto open = FindInspector(item)) return open;
    return std::make_shared<HInspector>(this, item);
}

QList<std::shared_ptr<Inspector>> HeadlessWindowSide::openInspectors() const
{
    QList<std::shared_ptr<Inspector>> list;
    for (const auto& i : m_inspectors)
        list.append(i);
    return list;
}

QList<std::shared_ptr<Explorer>> HeadlessWindowSide::openExplorers() const
{
    QList<std::shared_ptr<Explorer>> list;
    for (const auto& e : m_explorers)
        list.append(e);
    return list;
}

} // namespace kv::outlook
