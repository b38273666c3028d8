#include "tests/fakecontrol/FakeKivara.h"

#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/WindowSide.h"

#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

FakeKivara::FakeKivara(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    m_label = new QLabel(u"Test chat control"_s, this);
    layout->addWidget(m_label);
}

int FakeKivara::ChatInit()
{
    m_log.append(u"ChatInit"_s);
    const Item item = CallByName(m_parent, u"CurrentItem"_s, VbMethod).value<Item>();
    if (!item) return -1;
    m_contact = item.FullName();
    m_label->setText(u"Chatting with "_s + m_contact);
    return 0;
}

int FakeKivara::DataPass(const QString& sDataPass)
{
    m_log.append(u"DataPass "_s + sDataPass);
    return sDataPass.isEmpty() ? -1 : 0;
}

void FakeKivara::SetStatus(const QString& sStatus)
{
    m_log.append(u"SetStatus "_s + sStatus);
}

int FakeKivara::Connect(const QString& sRemoteHost, int lRemotePort)
{
    m_log.append(u"Connect %1 %2"_s.arg(sRemoteHost).arg(lRemotePort));
    return 0;
}

int FakeKivara::HoldFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    m_log.append(u"HoldFor %1"_s.arg(ms));
    return ms;
}

bool FakeKivara::CloseForm()
{
    return CallByName(m_parent, u"Close"_s, VbMethod, {0}).toBool();
}

QWidget* FakeControlFactory::create(const QString& className, QWidget* parent)
{
    if (className.compare(u"Kivara"_s, Qt::CaseInsensitive) != 0) return nullptr;
    return new FakeKivara(parent);
}

void FakeControlFactory::attachHost(std::shared_ptr<WindowSide> windows)
{
    WindowSide::install(std::move(windows));
}
