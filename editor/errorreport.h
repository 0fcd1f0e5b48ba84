#pragma once
// The application's general error report. An error raised inside a command
// ends that command; Guarded() catches it and shows the report: a message box
// with the error icon, an OK button, caption "Quelvane" and the message followed
// by "."; the application goes on. Besides the system's own EQvError this takes
// every std::exception (running out of memory has a message of its own) and
// anything else thrown, so no error of a command ends the program.
#include "qverror.h"

#include <functional>
#include <new>

class QWidget;

void ShowErrorReport(const QString &message, QWidget *parent = nullptr);

// The question before changes are dropped: text with Save, Discard and Cancel
// (in Japanese), Save the default; returns QMessageBox::Save, Discard or Cancel
// (closing the box is Cancel).
int AskSaveDiscardCancel(const QString &text, QWidget *parent);

// The report's text for running out of memory, for another std::exception (its
// what() text) and for anything else thrown.
QString OutOfMemoryMessage();
QString ForeignErrorMessage(const std::exception &e);
QString UnknownErrorMessage();

template <class F>
bool Guarded(F &&command, QWidget *parent = nullptr) {
    try {
        command();
        return true;
    } catch (const EQvError &e) {
        ShowErrorReport(e.Message, parent);
    } catch (const std::bad_alloc &) {
        ShowErrorReport(OutOfMemoryMessage(), parent);
    } catch (const std::exception &e) {
        ShowErrorReport(ForeignErrorMessage(e), parent);
    } catch (...) {
        ShowErrorReport(UnknownErrorMessage(), parent);
    }
    return false;
}
