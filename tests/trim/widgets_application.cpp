#include <QApplication>

#include <memory>

// The trim tests show widgets: their program needs a QApplication (see support/test_main.cpp).
std::unique_ptr<QGuiApplication> makeWidgetsApplication(int& argc, char** argv)
{
    return std::make_unique<QApplication>(argc, argv);
}
