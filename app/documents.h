#pragma once
// The document windows of the main window's client area: opening (one window
// per file), finding and bringing forward, saving with the save dialog, the
// questions before they close, and their arrangement.
#include "documenthost.h"

#include <QList>
#include <QObject>
#include <functional>

class QMdiArea;
class QMdiSubWindow;
class QStatusBar;
class QWidget;
class TFileDialog;
class TFileWatch;
class TMDIChild;

class TDocuments : public QObject, public TDocumentHost {
    Q_OBJECT
public:
    TDocuments(QMdiArea *area, QStatusBar *status, QWidget *window);
    ~TDocuments() override;

    // Documents, most recently activated first.
    int MDIChildCount() const override { return int(Documents.size()); }
    TMDIChild *MDIChildren(int i) const override { return Documents.value(i); }
    TMDIChild *ActiveMDIChild() const;
    TMDIChild *NewDocument() override;
    QStatusBar *StatusLine() const override { return Status; }
    QWidget *DialogParent() const override { return Window; }

    // The document window whose file name is `path` (compared exactly, as the
    // file system compares names), or nullptr. Untitled windows match nothing.
    TMDIChild *FindOpen(const QString &path) const;
    // Shows the window (restored from an icon) and makes it the active one.
    void BringToFront(TMDIChild *doc);
    // Brings forward the window that shows `path`, or opens a new one, loading
    // the file when it exists. A failed load leaves no window and throws.
    void OpenDocument(const QString &path);

    // File Save: an untitled document asks the save dialog for a name.
    void Save();
    // File Save As.
    void SaveAs();
    // Saves a document the way File Save does; false when cancelled or failed
    // (a failure has already been reported).
    bool SaveDocument(TMDIChild &doc);
    // Asks "save, discard, cancel" about each changed document; false on
    // Cancel. `toSave` gets the ones to save, in order.
    bool AskChanged(QList<TMDIChild *> &toSave) const;
    // すべて保存: every changed document, most recently activated first, as
    // File Save saves it; an untitled one comes to the front for its save
    // dialog. Stops at the first one that is not saved (its dialog cancelled,
    // a question answered No, a failed write): false then. The window that was
    // active is active again afterwards.
    bool SaveAll();

    // Ctrl+Tab (step 1) and Ctrl+Shift+Tab (step -1): the next or the previous
    // document window in the order of their last activation, wrapping round.
    // While Ctrl is held, further steps go on through the order as it was when
    // the first was taken; the window reached moves to the front of the order
    // only at EndStepping() (Ctrl let go), so that a quick Ctrl+Tab goes back
    // to the window used before and a held one reaches any other.
    void StepWindow(int step);
    void EndStepping();
    bool Stepping() const { return Walk >= 0; }

    // Whether document windows are maximised: that of the last one whose state
    // changed. A new window that has no other beside it opens so.
    bool Maximized() const { return MaximizedState; }
    void SetMaximized(bool maximized) { MaximizedState = maximized; }

    // Window arrangement: full-width windows stacked from the top (leaving the
    // row of icons free), icons lined up along the bottom, every window minimised.
    void Tile();
    void ArrangeIcons();
    void MinimizeAll();

    // The dialog that names untitled documents on save.
    TFileDialog *SaveDialog = nullptr;
    // Files changed by other programs: checked when the main window is
    // activated and before every save.
    TFileWatch *Files = nullptr;
    // A new window, before it shows.
    std::function<void(TMDIChild *)> OnCreated;
    // A file was opened or saved under its name.
    std::function<void(const QString &path)> OnNamed;
    // The set of windows or the active one changed.
    std::function<void()> OnChanged;

signals:
    // A document opened by OpenDocument has read its file.
    void Loaded(TMDIChild *doc);

private:
    void Activated(QMdiSubWindow *window);
    void Gone(QObject *doc);
    void Fit(TMDIChild *doc);
    void Changed() const;

    QMdiArea *Area;
    QStatusBar *Status;
    QWidget *Window;
    QList<TMDIChild *> Documents;
    QList<TMDIChild *> WalkOrder;  // the order when stepping began
    int Walk = -1;                 // the window reached in it; -1: not stepping
    bool MaximizedState = false;
};
