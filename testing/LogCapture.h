#pragma once
// The lines of the kivara.* logging categories while a capture lives, as a
// user would read them ("kivara.control: ..."), under the filter rules it sets.
// Other messages go on to the handler that was there before.
#include <QLoggingCategory>
#include <QStringList>

namespace kv::test {

class LogCapture {
public:
    // Empty rules: the categories' own defaults.
    explicit LogCapture(const QString& rules = QString())
    {
        lines().clear();
        previous() = qInstallMessageHandler(&LogCapture::take);
        setRules(rules);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous());
        setRules(QString());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void setRules(const QString& rules) { QLoggingCategory::setFilterRules(rules); }
    static QStringList& lines()
    {
        static QStringList taken;
        return taken;
    }

private:
    static QtMessageHandler& previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void take(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        const QString category = QString::fromLatin1(context.category);
        if (category.startsWith(QStringLiteral("kivara.")))
            lines() << category + QStringLiteral(": ") + text;
        else if (previous())
            previous()(type, context, text);
    }
};

} // namespace kv::test
