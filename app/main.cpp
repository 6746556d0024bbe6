// The production program: the application object and the entry point, nothing else.
#include "app/K-VEX-RTN-RedozU15.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    return WinMain();
}
