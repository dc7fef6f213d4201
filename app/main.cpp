// quellbridger: the installer's window.
#include <QApplication>

#include "app/quellbridger_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CQuellbridgerApp app;
    return app.InitInstance();
}
