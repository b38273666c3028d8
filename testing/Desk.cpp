#include "testing/Desk.h"

using namespace Qt::StringLiterals;

namespace kv::test {

void Desk::install(const QString& promptRules)
{
    rules(promptRules);
    auto s = std::make_unique<platform::RecordingSound>();
    sound = s.get();
    platform::Sound::install(std::move(s));
    auto sh = std::make_unique<platform::RecordingShell>();
    shell = sh.get();
    platform::Shell::install(std::move(sh));
}

void Desk::rules(const QString& text)
{
    auto p = std::make_unique<platform::ScriptedPrompt>(text);
    prompt = p.get();
    platform::Prompt::install(std::move(p));
}

QStringList Desk::promptTexts() const
{
    QStringList texts;
    for (const auto& e : prompt->log())
        texts << (e.kind == u"form"_s ? u"form:"_s + e.title : e.text);
    return texts;
}

void HeadlessCase::startCase(const QString& localIp, const QString& serialNum)
{
    m_computer = std::make_unique<SimComputer>(localIp, serialNum);
    m_computer->activate();
    m_side = std::make_shared<outlook::HeadlessWindowSide>();
    outlook::WindowSide::install(m_side);
    m_desk.install();
}

void HeadlessCase::endCase()
{
    outlook::WindowSide::install(nullptr);
    m_side.reset();
    m_computer.reset();
}

ProfileRecord UserProfile(const QString& name, const QString& ip, const QString& serial)
{
    ProfileRecord p;
    p.FullName = name + u" Example"_s;
    p.Email = name.toLower() + u"@example.org"_s;
    p.ChatName = name;
    p.UserStatus = u"Available"_s;
    p.IPAddress = ip;
    p.SerialNum = serial;
    return p;
}

ProfileRecord AnnProfile(const QString& ip)
{
    ProfileRecord p = UserProfile(u"Ann"_s, ip, u"KV-ANN"_s);
    p.Comment = u"hi there"_s;
    p.ChatType = 2;
    return p;
}

} // namespace kv::test
