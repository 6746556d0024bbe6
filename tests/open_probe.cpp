// Opens one device as port 1 the way the program does and prints the status line it would show;
// the open-failure tests run it as another user.
#include "com232/rs232link.h"
#include "platform/rs232.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvex-open-probe DEVICE\n");
        return 2;
    }
    bindPortDevice(1, argv[1]);
    const int result = OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096);
    std::printf("%s\n", result < 0 ? openFailureText(result).c_str() : "opened");
    CloseCom(1);
    return result < 0 ? 1 : 0;
}
