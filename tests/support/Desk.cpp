#include "Desk.h"

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

ProfileRecord AnnProfile(const QString& ip)
{
    ProfileRecord p;
    p.FullName = u"Ann Example"_s;
    p.Email = u"ann@example.org"_s;
    p.Comment = u"hi there"_s;
    p.ChatName = u"Ann"_s;
    p.UserStatus = u"Available"_s;
    p.IPAddress = ip;
    p.SerialNum = u"KV-ANN"_s;
    p.ChatType = 2;
    return p;
}

} // namespace kv::test
