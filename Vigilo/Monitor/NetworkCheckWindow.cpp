#include "Vigilo/Monitor/NetworkCheckWindow.h"

#include "Vigilo/Monitor/NetworkCheck.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

namespace {
constexpr QStringView Title = u"Kivara Network Check";
constexpr QStringView Verdict[] = {u"A firewall may keep calls out: see below.",
                                   u"The ports are open to others."};
constexpr QStringView FindingsName = u"Findings";
constexpr QStringView FindingsDescription =
    u"Your addresses, the one others are told, the ports taken and what a firewall lets through";
constexpr QStringView CloseDescription = u"Closes the network check";
} // namespace

void ShowNetworkCheck(QWidget* parent)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const NetworkReport report = CheckNetwork();
    QApplication::restoreOverrideCursor();

    auto* window = new QDialog(parent);
    window->setObjectName(u"frmNetworkCheck"_s);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(Title.toString());
    auto* text = new QPlainTextEdit(Verdict[report.Passes()].toString() + u"\n\n"_s + report.Text(), window);
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
    window->show();
}

} // namespace kv::vigilo
