#pragma once
// The application's general error report. An EQvError raised inside a command
// ends that command; Guarded() catches it and shows the report: a message box
// with the error icon, an OK button, caption "Quelvane" and the message followed
// by "."; the application goes on.
#include "qverror.h"

#include <functional>

class QWidget;

void ShowErrorReport(const QString &message, QWidget *parent = nullptr);

// When set, ShowErrorReport() hands the message (without the ".") to it instead
// of showing the box. Tests use it to see the reports.
extern std::function<void(const QString &)> ErrorReportHook;

template <class F>
bool Guarded(F &&command, QWidget *parent = nullptr) {
    try {
        command();
        return true;
    } catch (const EQvError &e) {
        ShowErrorReport(e.Message, parent);
        return false;
    }
}
