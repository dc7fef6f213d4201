#include "support/qt/qt_application.h"

#include <QApplication>

void EnsureQtApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char arg0[] = "qb_widget_tests";
    static char* argv[] = {arg0, nullptr};
    new QApplication(argc, argv);
}
