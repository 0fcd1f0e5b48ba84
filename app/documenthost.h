#pragma once
// What the parts that follow the documents (recovery, the watch on their
// files) need of the main window's documents: the windows, a new one to
// restore into, the status line and a parent for dialogs. TDocuments
// (documents.h) is the one the program has.
class QStatusBar;
class QWidget;
class TMDIChild;

class TDocumentHost {
public:
    virtual int MDIChildCount() const = 0;
    virtual TMDIChild *MDIChildren(int i) const = 0;
    // A new untitled, empty document window, active.
    virtual TMDIChild *NewDocument() = 0;
    virtual QStatusBar *StatusLine() const = 0;
    virtual QWidget *DialogParent() const = 0;

protected:
    ~TDocumentHost() = default;
};
