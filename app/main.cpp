#include "app/Program.h"
#include "platform/Display.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    const QString noDisplay = platform::missingDisplayReason();
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr, "Pulsewatch: %s\n", noDisplay.toLocal8Bit().constData());
        return 1;
    }
    QApplication app(argc, argv);
    return app::runProgram(app);
}
