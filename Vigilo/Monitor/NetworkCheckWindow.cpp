#include "Vigilo/Monitor/NetworkCheckWindow.h"

#include "Vigilo/Monitor/NetworkCheck.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFutureWatcher>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

namespace {
constexpr QStringView Title = u"Kivara Network Check";
constexpr QStringView Checking = u"Checking the network...";
constexpr QStringView Verdict[] = {u"A firewall may keep calls out: see below.",
                                   u"The ports are open to others."};
constexpr QStringView FindingsName = u"Findings";
constexpr QStringView FindingsDescription =
    u"Your addresses, the one others are told, the ports taken and what a firewall lets through";
constexpr QStringView CloseDescription = u"Closes the network check";
} // namespace

void ShowNetworkCheck(QWidget* parent)
{
    auto* window = new QDialog(parent);
    window->setObjectName(u"frmNetworkCheck"_s);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(Title.toString());
    auto* text = new QPlainTextEdit(Checking.toString(), window);
    text->setReadOnly(true);
    text->setAccessibleName(FindingsName.toString());
    text->setAccessibleDescription(FindingsDescription.toString());
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text->setMinimumSize(560, 360);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    buttons->button(QDialogButtonBox::Close)->setAccessibleDescription(CloseDescription.toString());
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(text);
    layout->addWidget(buttons);
    window->setCursor(Qt::BusyCursor);
    window->show();

    // A window closed before the check ends drops its watcher; the finished
    // check's report is then discarded.
    auto* watcher = new QFutureWatcher<NetworkReport>(window);
    QObject::connect(watcher, &QFutureWatcher<NetworkReport>::finished, window, [window, watcher, text] {
        const NetworkReport report = watcher->result();
        text->setPlainText(Verdict[report.Passes()].toString() + u"\n\n"_s + report.Text());
        window->unsetCursor();
    });
    watcher->setFuture(QtConcurrent::run([] { return CheckNetwork(); }));
}

} // namespace kv::vigilo
