// The yardstick of the start-up benchmark: the smallest Qt widgets program that shows a window
// of the main window's size, built with the same flags, ending as soon as it was shown.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(975, 74);
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return QApplication::exec();
}
