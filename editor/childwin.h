#pragma once
// The editor document window: one source file in a text control, with its path
// and its changed flag, hosted by the main window's QMdiArea.

#include <QMdiSubWindow>
#include <QString>
#include <functional>
#include <memory>

#include "colouring.h"
#include "diskstate.h"
#include "pathext.h"  // ShortName and ShortPath, used for the caption
#include "qverror.h"
#include "textpos.h"
#include "textstore.h"

#include "ui_childwin.h"

class QCloseEvent;

// The window's client area and its text control RichEdit1 (a TRichEdit) come
// from childwin.ui.
class TMDIChild : public QMdiSubWindow, public Ui::ChildWin {
    Q_OBJECT
public:
    // An untitled, empty, unchanged document; caption "名称未設定".
    explicit TMDIChild(QWidget *owner = nullptr);
    ~TMDIChild() override;

    bool Loading = false;                 // set while the document itself replaces the text
    QString FileName;                     // full path; empty when untitled
    bool Changed = false;                 // edited since created, loaded or saved ("*" in the caption)

    // Reads the file into the document and makes it the document's file.
    // Throws EQvError::CannotOpen(path) when it cannot be read (a directory
    // included), EQvError::NotRegularOpen(path) for a FIFO, a device or a
    // socket, EQvError when its text is longer than the store holds
    // (TText::kMaxLength characters, line breaks counting two; checked on the
    // size before anything is read, and on the bytes), std::bad_alloc when it
    // cannot fit in memory; the document is then left as it was.
    void LoadFile(const QString &path);
    // The one load path: decodes `bytes` into the document, and only then makes
    // `path` (empty: untitled) its file, with the caption and the changed state
    // (`changed`: a changed document with "*", as restored unsaved edits are).
    // Throws std::bad_alloc when the text cannot fit; FileName, the caption and
    // Changed are then as they were.
    void LoadBytes(QByteArray bytes, const QString &path, bool changed = false);
    // Writes the document to FileName (a titled document, changed or not) and
    // clears Changed. An untitled document writes nothing and keeps Changed.
    // Throws EQvError when the file cannot be written or a character cannot be
    // held in Shift-JIS; the file, the caption and Changed are then unchanged.
    void Save();
    // Writes the document to path and makes it the document's file. On a
    // failure FileName, the caption and Changed are unchanged.
    void SaveAs(const QString &path);
    bool IsUntitled() const;

    // The file as this document last read or wrote it (Unknown: untitled, or
    // restored with no record of it): another program's change shows as a
    // difference from TDiskState::Of(FileName).
    TDiskState Disk;
    // Asked before Save writes over FileName; false: nothing is written and the
    // document stays as it is.
    std::function<bool(TMDIChild &)> BeforeSave;
    // Reads FileName again: the caret stays on its line (and column, as far as
    // the line reaches), the view where it was, the focus where it is. Throws
    // as LoadFile does; the document is then as it was.
    void Reload();
    // The text is in no file any more (the file was removed, or replaced by
    // something that is none): changed, "*" in the caption, so that closing
    // asks first.
    void MarkUnsaved();

    // The text control's change handler: marks the first edit in the caption and
    // recolours the caret's line.
    void RichEdit1Change();

    // Undo and redo of the text control. They are edits like any other: the
    // change event recolours the caret's line; the lines the step changed are
    // coloured anew as well.
    void Undo();
    void Redo();

    // The close handler: a changed document asks whether to save it first
    // (Save, Discard or Cancel); the event is ignored when the window stays open.
    void FormClose(QCloseEvent *event);

    // The close question: "<name> への変更を保存しますか?" with Save, Discard and
    // Cancel; returns QMessageBox::Save, Discard or Cancel.
    int AskSave();

    // Run on Save in the close question: saves the document (the main window runs
    // its save dialog for an untitled one); false when cancelled or failed.
    // When unset, a titled document is saved with Save() (errors are reported)
    // and an untitled one stays open.
    std::function<bool(TMDIChild &)> SaveRequest;

    // The line end written after a line typed into this document: that of the
    // loaded file (its most common one), CR LF for a new document.
    using LineEnd = textstore::LineEnd;
    LineEnd DefaultLineEnd = textstore::CrLf;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ColourCaretLine();
    void UndoOrRedo(bool redo);
    void SetCaption(const QString &caption);
    void WriteTo(const QString &path);
};

// Lines of context kept around a line that is brought into view.
constexpr int kContextLines = 3;

// Selects line n (1-based) with its line break, scrolls so that the whole
// line is in view, and focuses the text control. A line number below 1 or
// beyond the last line changes nothing.
void GoToLine(TMDIChild *document, int n);
