// The floor of the start-up figures: an empty Qt widgets program showing one
// window, started and timed the same way as the product's programs.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Floor"));
    window.show();
    return QApplication::exec();
}
