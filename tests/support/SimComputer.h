#pragma once
// A simulated computer: its own home, configuration, data, runtime and
// temporary folders, its own loopback address, and the product set up in it
// as the installer would (InstallDir, SerialNum, network probe on loopback).
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace kv::test {

class SimComputer {
public:
    // localIp must be a 127.x.y.z address no other test uses with the fixed ports.
    explicit SimComputer(const QString& localIp = QStringLiteral("127.0.0.1"),
                         const QString& serialNum = QStringLiteral("KV-TEST-0001"));

    // Makes this process that computer: sets the environment variables the
    // platform layer reads, then performs the product set-up (the forms are
    // registered in the store once an application object exists).
    void activate();
    // Registers the product's two forms in this computer's store.
    void installForms() const;

    // The environment for a child process that runs on this computer.
    QProcessEnvironment environment() const;

    QString root() const { return m_dir.path(); }
    QString home() const;
    QString installDir() const; // ends with "/"
    QString localIp() const { return m_localIp; }
    QString serialNum() const { return m_serialNum; }

private:
    void setUp() const;

    QTemporaryDir m_dir;
    QString m_localIp;
    QString m_serialNum;
};

} // namespace kv::test

// Test main: every suite runs inside a simulated computer from the first line,
// so that nothing can probe a real network. A suite that also serves as its own
// child process (for tests across processes) passes a function that runs when
// the first argument is "--child"; the child keeps the environment it was given.
#define KV_TEST_MAIN_WITH_CHILD(TestObject, childMain)                                                       \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        if (argc > 1 && qstrcmp(argv[1], "--child") == 0) {                                                  \
            QApplication app(argc, argv);                                                                    \
            return childMain(QCoreApplication::arguments().mid(2));                                          \
        }                                                                                                    \
        kv::test::SimComputer kvDefaultComputer;                                                             \
        kvDefaultComputer.activate();                                                                        \
        QApplication app(argc, argv);                                                                        \
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
