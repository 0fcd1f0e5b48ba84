#pragma once
// Find, replace and go to line in the active document. The find/replace
// dialog (finddialog.h) is non-modal and made at its first use; F3 and
// Shift+F3 work in it too, and its notes go to the status line. F3 and
// Shift+F3 without a text to find show the dialog.
#include <QObject>

class QAction;
class QStatusBar;
class QWidget;
class TDocuments;
class TFindDialog;

class TFindControl : public QObject {
    Q_OBJECT
public:
    TFindControl(TDocuments &docs, QAction *findNext, QAction *findPrev, QStatusBar *status, QWidget *window);

    TFindDialog *FindDialog = nullptr;

    void FindItemClick();
    void ReplaceItemClick();
    void FindNextItemClick();
    void FindPrevItemClick();
    void GoToLineItemClick();

private:
    void ShowFindDialog(bool replace);

    TDocuments &Docs;
    QAction *const FindNext, *const FindPrev;
    QStatusBar *const Status;
    QWidget *const Window;
};
