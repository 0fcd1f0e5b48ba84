#pragma once
// The compiler's messages as marks in the margins of the open documents: a
// document's line that a message of the latest compile of some source names
// (as navigation names it: the row's file is the document's ShortPath) gets an
// error's or a warning's mark with the message as its tip. A compile of a
// source takes the marks of its last compile away as it starts, and puts its
// own in when its messages are known; a document opened later gets the marks
// of the latest compiles. The marks then follow the document's edits.
#include <QObject>
#include <QString>

class TCompileControl;
class TDocuments;
class TMDIChild;

class TMessageMarks : public QObject {
    Q_OBJECT
public:
    TMessageMarks(TCompileControl &compiler, TDocuments &docs);

private:
    // The marks of source's latest compile in doc.
    void Show(TMDIChild *doc, const QString &source) const;
    TCompileControl &Compiler;
    TDocuments &Docs;
};
