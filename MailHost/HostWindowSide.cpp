#include "MailHost/HostWindowSide.h"

#include "MailHost/ExplorerWindow.h"
#include "MailHost/Forms.h"

#include <QApplication>

using namespace Qt::StringLiterals;

namespace kv::host {

using detail::SetErr;

namespace {
const QString ClosedText = u"The window has been closed."_s;
const QString NoPageText = u"Array index out of bounds."_s;

void bringToFront(QWidget* w)
{
    if (w->isMinimized()) w->showNormal();
    w->show();
    w->raise();
    w->activateWindow();
}

template <typename T>
void moveToEnd(QList<std::shared_ptr<T>>& list, const std::shared_ptr<T>& p)
{
    list.removeAll(p);
    list.append(p);
}
} // namespace

QObject* HostFormPage::Controls(const QString& name)
{
    ClearErr();
    QObject* c = m_controls.value(name);
    if (!c) SetErr(ErrNo::BadIndex, NoPageText);
    return c;
}

// ---------------------------------------------------------------- inspector

HostInspector::HostInspector(HostWindowSide* side, Item item) : m_side(side), m_item(std::move(item)) {}

HostInspector::~HostInspector()
{
    delete m_window;
    delete m_object;
}

InspectorWindow* HostInspector::window() const
{
    return m_window;
}

ExplorerWindow* HostExplorer::window() const
{
    return m_window;
}

Application HostInspector::application() const
{
    return m_side->application();
}

QString HostInspector::controlFolder() const
{
    return m_side->controlFolder();
}

InspectorObject* HostInspector::automationObject()
{
    if (!m_object) m_object = new InspectorObject(weak_from_this());
    return m_object;
}

InspectorWindow* HostInspector::ensureWindow()
{
    if (!m_window) m_window = InspectorWindow::create(this);
    ClearErr();
    return m_window;
}

Item HostInspector::CurrentItem()
{
    ClearErr();
    if (m_closed) {
        SetErr(ErrNo::NotFound, ClosedText);
        return {};
    }
    return m_item;
}

bool HostInspector::Display(bool modal)
{
    Q_UNUSED(modal);
    ClearErr();
    if (m_closed) return SetErr(ErrNo::NotFound, ClosedText);
    InspectorWindow* w = ensureWindow();
    auto self = shared_from_this();
    const bool first = !m_displayed;
    m_displayed = true;
    m_side->m_hiddenInspectors.removeAll(self);
    moveToEnd(m_side->m_inspectors, self);
    bringToFront(w);
    if (first) w->opened();
    ClearErr();
    return true;
}

void HostInspector::activated()
{
    if (m_closed || !m_displayed) return;
    moveToEnd(m_side->m_inspectors, shared_from_this());
}

bool HostInspector::Close(int saveMode)
{
    ClearErr();
    if (m_closed) return true;
    if (saveMode == olSave && !m_item.Save()) return false;
    m_closed = true;
    auto self = shared_from_this(); // keeps this alive to the end of the call
    m_side->m_inspectors.removeAll(self);
    m_side->m_hiddenInspectors.removeAll(self);
    if (saveMode != olSave) m_item.Close(olDiscard);
    if (m_window) {
        // A control on the form may be running this close from one of its members.
        m_window->setClosing();
        m_window->hide();
        m_window->deleteLater();
        m_window = nullptr;
    }
    if (m_object) {
        m_object->deleteLater();
        m_object = nullptr;
    }
    ClearErr();
    Q_EMIT m_side->inspectorClosed();
    Q_EMIT m_side->itemsChanged();
    return true;
}

bool HostInspector::SetCurrentFormPage(const QString& pageName)
{
    ClearErr();
    if (m_closed) return SetErr(ErrNo::NotFound, ClosedText);
    if (!ensureWindow()->setCurrentPage(pageName))
        return SetErr(ErrNo::Exception, u"Could not find the form page \"%1\"."_s.arg(pageName));
    return true;
}

std::shared_ptr<FormPage> HostInspector::ModifiedFormPages(const QString& pageName)
{
    ClearErr();
    if (m_closed) {
        SetErr(ErrNo::NotFound, ClosedText);
        return nullptr;
    }
    auto page = ensureWindow()->customPage(pageName);
    if (!page) SetErr(ErrNo::BadIndex, NoPageText);
    return page;
}

QString HostInspector::CurrentFormPage()
{
    ClearErr();
    return m_window ? m_window->currentPage() : GeneralPageName.toString();
}

bool HostInspector::IsDisplayed()
{
    ClearErr();
    return m_displayed && !m_closed;
}

// ---------------------------------------------------------------- explorer

HostExplorer::HostExplorer(HostWindowSide* side, MAPIFolder folder)
    : m_side(side), m_window(new ExplorerWindow(side, this, std::move(folder)))
{}

HostExplorer::~HostExplorer()
{
    delete m_window;
}

MAPIFolder HostExplorer::CurrentFolder()
{
    ClearErr();
    if (!m_window) {
        SetErr(ErrNo::NotFound, ClosedText);
        return {};
    }
    return m_window->folder();
}

bool HostExplorer::setCurrentFolder(const MAPIFolder& folder)
{
    ClearErr();
    if (!folder) return SetErr(ErrNo::ObjectNotSet, u"Object variable or With block variable not set"_s);
    if (!m_window) return SetErr(ErrNo::NotFound, ClosedText);
    return m_window->setFolder(folder);
}

bool HostExplorer::Display()
{
    ClearErr();
    if (!m_window) return SetErr(ErrNo::NotFound, ClosedText);
    m_displayed = true;
    auto self = shared_from_this();
    m_side->m_hiddenExplorers.removeAll(self);
    moveToEnd(m_side->m_explorers, self);
    bringToFront(m_window);
    return true;
}

bool HostExplorer::Activate()
{
    return Display();
}

void HostExplorer::activated()
{
    if (!m_displayed || !m_window) return;
    moveToEnd(m_side->m_explorers, shared_from_this());
}

bool HostExplorer::Close()
{
    ClearErr();
    if (!m_window) return true;
    auto self = shared_from_this();
    m_window->setClosing();
    m_window->hide();
    m_window->deleteLater();
    m_window = nullptr;
    m_displayed = false;
    m_side->m_explorers.removeAll(self);
    m_side->m_hiddenExplorers.removeAll(self);
    Q_EMIT m_side->explorerClosed();
    return true;
}

void HostExplorer::windowClosed()
{
    Close();
}

// ---------------------------------------------------------------- side

HostWindowSide::HostWindowSide(const QString& storePath) : m_app(storePath) {}

HostWindowSide::~HostWindowSide()
{
    closeAll();
}

void HostWindowSide::closeAll()
{
    const auto inspectors = m_inspectors + m_hiddenInspectors;
    for (const auto& i : inspectors)
        i->Close(olDiscard);
    const auto explorers = m_explorers + m_hiddenExplorers;
    for (const auto& e : explorers)
        e->Close();
    m_inspectors.clear();
    m_hiddenInspectors.clear();
    m_explorers.clear();
    m_hiddenExplorers.clear();
}

QStringList HostWindowSide::saveChanges()
{
    QStringList failed;
    const auto inspectors = m_inspectors; // closing changes the list
    for (const auto& i : inspectors) {
        if (i->closed() || i->item().Saved()) continue;
        if (!i->Close(olSave)) failed << Err().Description;
    }
    return failed;
}

std::shared_ptr<Explorer> HostWindowSide::ActiveExplorer()
{
    return m_explorers.isEmpty() ? nullptr : m_explorers.last();
}

std::shared_ptr<Inspector> HostWindowSide::ActiveInspector()
{
    return m_inspectors.isEmpty() ? nullptr : m_inspectors.last();
}

std::shared_ptr<Explorer> HostWindowSide::GetExplorer(const MAPIFolder& folder)
{
    ClearErr();
    auto e = std::make_shared<HostExplorer>(this, folder);
    m_hiddenExplorers.append(e);
    return e;
}

std::shared_ptr<Inspector> HostWindowSide::FindInspector(const Item& item)
{
    for (const auto& list : {m_inspectors, m_hiddenInspectors})
        for (const auto& i : list)
            if (!i->closed() && (i->item() == item || i->item().isSameStored(item))) return i;
    return nullptr;
}

std::shared_ptr<Inspector> HostWindowSide::GetInspector(const Item& item)
{
    ClearErr();
    if (auto open = FindInspector(item)) return open;
    auto i = std::make_shared<HostInspector>(this, item);
    m_hiddenInspectors.append(i);
    return i;
}

} // namespace kv::host
