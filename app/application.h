#pragma once
// The application object: every event reaches its receiver through the
// general error report, so an error that escapes a handler outside any command
// (a change event, a timer, a paint) is reported and the program goes on.
#include <QApplication>

class TApplication : public QApplication {
public:
    TApplication(int &argc, char **argv) : QApplication(argc, argv) {}
    bool notify(QObject *receiver, QEvent *event) override;
};
