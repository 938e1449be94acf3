#pragma once

#include <QApplication>

namespace vela::test {

// The one application object of a test program that makes widgets (offscreen); made on first use
// and kept to the end, since Qt allows only one per process.
inline QApplication& widgetsApp() {
    static int argc = 1;
    static char name[] = "vela_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

} // namespace vela::test
