// quellbridger: the installer's window.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/quellbridger_app.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quellbridger %s\n", QB_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    // The desktop entry's id: Wayland compositors and docks find the icon and name through it.
    QGuiApplication::setDesktopFileName(QStringLiteral(QB_APP_ID));
    CQuellbridgerApp app;
    return app.InitInstance();
}
