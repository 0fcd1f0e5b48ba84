#include "findcontrol.h"

#include "childwin.h"
#include "documents.h"
#include "finddialog.h"

#include <QLineEdit>
#include <QStatusBar>

TFindControl::TFindControl(TDocuments &docs, QAction *findNext, QAction *findPrev, QStatusBar *status, QWidget *window)
    : QObject(window), Docs(docs), FindNext(findNext), FindPrev(findPrev), Status(status), Window(window) {}

void TFindControl::ShowFindDialog(bool replace) {
    if (!FindDialog) {
        FindDialog = new TFindDialog(Window);
        FindDialog->Target = [this]() -> TRichEdit * {
            TMDIChild *doc = Docs.ActiveMDIChild();
            return doc ? doc->RichEdit1 : nullptr;
        };
        FindDialog->addAction(FindNext);
        FindDialog->addAction(FindPrev);
        connect(FindDialog, &TFindDialog::Note, Status, [this](const QString &text) { Status->showMessage(text); });
    }
    FindDialog->ShowFor(replace);
}

void TFindControl::FindItemClick() {
    if (Docs.ActiveMDIChild()) ShowFindDialog(false);
}

void TFindControl::ReplaceItemClick() {
    if (Docs.ActiveMDIChild()) ShowFindDialog(true);
}

void TFindControl::FindNextItemClick() {
    if (!Docs.ActiveMDIChild()) return;
    if (!FindDialog || FindDialog->FindText->text().isEmpty()) return ShowFindDialog(false);
    FindDialog->FindAgain(false);
}

void TFindControl::FindPrevItemClick() {
    if (!Docs.ActiveMDIChild()) return;
    if (!FindDialog || FindDialog->FindText->text().isEmpty()) return ShowFindDialog(false);
    FindDialog->FindAgain(true);
}

void TFindControl::GoToLineItemClick() {
    TMDIChild *doc = Docs.ActiveMDIChild();
    if (!doc) return;
    const TTextStore *text = doc->RichEdit1->Text();
    const int n = TGoToLineDialog::Ask(Window, text->LineCount(), text->LineOf(doc->RichEdit1->Caret()) + 1);
    for (int i = 0; n > 0 && i < Docs.MDIChildCount(); ++i)  // unless it closed meanwhile
        if (Docs.MDIChildren(i) == doc) return GoToLine(doc, n);
}
