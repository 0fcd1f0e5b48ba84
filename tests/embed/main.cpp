// Builds the main window from outside the project's own folders.
#include "mainform.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    TMainForm form;
    return 0;
}
