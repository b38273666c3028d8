// Child side of the store's multi-process tests. Prints one line per outcome
// and flushes it, so the parent knows exactly which saves returned.
//   outlook_child add <store> <count, 0 = until killed> <tag>
//   outlook_child markread <store> <how many> <time limit ms>
#include "Platform/Outlook/Outlook.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

namespace {

constexpr unsigned long PollMs = 1;

void say(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

void sayError()
{
    say(u"error "_s + Err().hex() + u' ' + Err().Description);
}

int add(const MAPIFolder& folder, int count, const QString& tag)
{
    int errors = 0;
    for (int i = 1; count == 0 || i <= count; ++i) {
        Item m = folder.Items().Add(KivaraMessageClass.toString());
        const QString name = tag + u'-' + QString::number(i);
        m.setSentOnBehalfOfName(name);
        m.setSubject(u"Left message "_s + name);
        m.UserProperties().Find(u"ChatName"_s).setValue(name);
        m.UserProperties().Find(u"MsgRead"_s).setValue(false);
        if (m.Save()) {
            say(u"saved "_s + name);
        } else {
            ++errors;
            sayError();
        }
    }
    say(u"done errors=%1"_s.arg(errors));
    return errors == 0 ? 0 : 1;
}

int markRead(const MAPIFolder& folder, int target, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    int marked = 0;
    int errors = 0;
    while (marked < target && timer.elapsed() < limitMs) {
        const Items unread = folder.Items().Restrict(u"[MsgRead] = False"_s);
        if (!unread) {
            ++errors;
            sayError();
            continue;
        }
        bool any = false;
        for (const Item& m : unread) {
            any = true;
            if (!m || !m.UserProperties().Find(u"MsgRead"_s).setValue(true) || !m.Save()) {
                ++errors;
                sayError();
                continue;
            }
            ++marked;
        }
        if (!any) QThread::msleep(PollMs); // nothing new yet: poll again
    }
    say(u"done marked=%1 errors=%2"_s.arg(marked).arg(errors));
    return errors == 0 && marked >= target ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication qapp(argc, argv);
    const QStringList args = qapp.arguments();
    if (args.size() != 5) {
        say(u"usage: outlook_child add|markread <store> <n> <tag|limit ms>"_s);
        return 64;
    }
    const Application app(args.at(2));
    const MAPIFolder inbox =
        app.GetNamespace(u"MAPI"_s).Folders().Item(u"Personal Folders"_s).Folders().Item(u"Inbox"_s);
    if (!inbox) {
        sayError();
        return 2;
    }
    if (args.at(1) == u"add"_s) return add(inbox, args.at(3).toInt(), args.at(4));
    if (args.at(1) == u"markread"_s) return markRead(inbox, args.at(3).toInt(), args.at(4).toInt());
    return 64;
}
