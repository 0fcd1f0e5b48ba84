#include "application.h"

#include "errorreport.h"

bool TApplication::notify(QObject *receiver, QEvent *event) {
    bool handled = false;
    Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
