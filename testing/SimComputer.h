#pragma once
// A simulated computer: its own home, configuration, data, runtime and
// temporary folders, its own loopback address, and the product set up in it
// as the installer would (InstallDir, SerialNum, network probe on loopback).
#include "Platform/QtPrompt.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace kv::outlook {
class MAPIFolder;
}

namespace kv::test {

class SimComputer {
public:
    // localIp must be a 127.x.y.z address no other test uses with the fixed ports.
    explicit SimComputer(const QString& localIp = QStringLiteral("127.0.0.1"),
                         const QString& serialNum = QStringLiteral("KV-TEST-0001"));

    // A computer on a network of its own, the network namespace netns: its
    // programs run there and take their address from it; nothing is set up
    // for them but what the shipped set-up does, and no test variable reaches them.
    struct OwnNetwork {
        QString netns;
    };
    explicit SimComputer(const OwnNetwork& network);

    // Makes this process that computer: sets the environment variables the
    // platform layer reads, then performs the product set-up (the forms are
    // registered in the store once an application object exists). A computer
    // of its own network gets the variables only: its set-up is the shipped one.
    void activate();
    // Registers the product's two forms in this computer's store.
    void installForms() const;

    // The environment for a child process that runs on this computer.
    QProcessEnvironment environment() const;
    // The program and arguments that run program with arguments on this computer.
    QStringList command(const QString& program, const QStringList& arguments = {}) const;
    bool ownNetwork() const { return !m_netns.isEmpty(); }

    // Installs the product as its set-up does, with the built programs and
    // control libraries (from KIVARA_BIN_DIR) in this computer's own system
    // folder, so that an uninstaller run from there removes those and not the
    // build's. False when a program could not be placed or the set-up failed.
    bool installProduct() const;
    QString systemFolder() const { return root() + QStringLiteral("/system"); }

    QString root() const { return m_dir.path(); }
    QString home() const { return root() + QStringLiteral("/home"); }
    QString installDir() const { return root() + QStringLiteral("/install/"); }
    QString localIp() const { return m_localIp; }
    QString serialNum() const { return m_serialNum; }

private:
    void setUp() const;

    QTemporaryDir m_dir;
    QString m_localIp;
    QString m_serialNum;
    QString m_netns;
};

// A private session bus for the programs of a multi-process test, and this
// process's connection to it under a name of its own. The daemon ends with the
// object, or with the test process should that die.
class SessionBus {
public:
    // listenPath: a socket file to listen on instead of the daemon's own
    // choice, which may be abstract and so reachable from one network namespace only.
    explicit SessionBus(const QString& connectionName = QString(), const QString& listenPath = QString());
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;
    // Empty when the daemon did not start or could not be reached; error() says why.
    QString address() const { return m_address; }
    QString error() const { return m_error; }
    QString connectionName() const { return m_connection; }
    // Whether a name has an owner on this bus.
    bool hasOwner(const QString& name) const;
    // Calls a method without arguments and waits (bounded) for its reply.
    bool call(const QString& service, const QString& path, const QString& interface,
              const QString& member) const;

private:
    QProcess m_daemon;
    QString m_address;
    QString m_connection;
    QString m_error;
};

// The product's contacts folder in the store of the computer this process is now.
outlook::MAPIFolder ProductFolder();
// The full names of the items of one message class in that folder, sorted.
QStringList ProductItemNames(const QString& messageClass);

// The texts of the prompts a program logged through KIVARA_PROMPT_LOG, in order.
QStringList LoggedPromptTexts(const QString& logFile);

// A file's bytes; "<missing>" when it cannot be read, so that a missing file never passes for an empty one.
QByteArray FileBytes(const QString& path);
// A text file's content; empty when it cannot be read.
QString FileText(const QString& path);
// Writes a whole file, making its folder first.
bool WriteBytes(const QString& path, const QByteArray& bytes);

} // namespace kv::test

// The call gives Nothing (or false) and leaves this error number (0: an answer, not an error).
#define QVERIFY_ERR(call, number)                                                                            \
    do {                                                                                                     \
        QVERIFY(!(call));                                                                                    \
        QCOMPARE(Err().Number, number);                                                                      \
    } while (false)

// Test main: every suite runs inside a simulated computer from the first line,
// so that nothing can probe a real network. A suite that also serves as its own
// child process (for tests across processes) passes a function that runs when
// the first argument is "--child"; the child keeps the environment it was given.
#define KV_TEST_MAIN_WITH_CHILD(TestObject, childMain)                                                       \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        if (argc > 1 && qstrcmp(argv[1], "--child") == 0) {                                                  \
            QApplication app(argc, argv);                                                                    \
            kv::platform::UseDesktopPrompts();                                                               \
            return childMain(QCoreApplication::arguments().mid(2));                                          \
        }                                                                                                    \
        kv::test::SimComputer kvDefaultComputer;                                                             \
        kvDefaultComputer.activate();                                                                        \
        QApplication app(argc, argv);                                                                        \
        kv::platform::UseDesktopPrompts();                                                                   \
        kvDefaultComputer.installForms();                                                                    \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

namespace kv::test {
inline int noChild(const QStringList&)
{
    return 2;
}
} // namespace kv::test

#define KV_TEST_MAIN(TestObject) KV_TEST_MAIN_WITH_CHILD(TestObject, kv::test::noChild)
