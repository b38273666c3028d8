#include "SimComputer.h"
#include "modReg.h"

#include <QApplication>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv;

class TestRegistry : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readRules();
};

void TestRegistry::readRules()
{
    QCOMPARE(ReadSetting(u"Settings"_s, u"FontName"_s, u"Tahoma"_s), u"Tahoma"_s);
}

KV_TEST_MAIN(TestRegistry)
#include "tst_registry.moc"
