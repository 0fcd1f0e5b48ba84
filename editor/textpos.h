#pragma once
// Positions in an editor's text.
//
// The editor works on the text T: the lines of the document joined by CR LF, a
// line break counting two positions (CR and LF). Selection positions are 0-based
// into T; the colouring rules index T from 1 (colouring.h), and index i is
// position i - 1.
// Qt's QPlainTextEdit keeps one block per line and one separator position per
// line break. This is the one place where the two counts meet; everything else
// in the editor speaks T.
//
// A line break in T is two characters, the CR and the LF; both stand for the one
// block separator in the document, which is therefore in a range of T exactly
// when the range holds the LF. (The LF is what counts: text typed at the start
// of the next line takes on its format, as it would the LF's.)

#include <QColor>
#include <QString>
#include <QTextBlock>

class QPlainTextEdit;
class QTextDocument;

// Length of T.
int TextLength(const QPlainTextEdit *control);
int TextLength(const QTextDocument *doc);

// T.mid(start, length) built from the blocks that hold it, without copying the
// rest of the text: the part of [start, start + length) that lies in T.
QString TextSlice(const QPlainTextEdit *control, int start, int length);

// The selection in T positions.
int SelStart(const QPlainTextEdit *control);
int SelLength(const QPlainTextEdit *control);
// Selects T[start .. start + length - 1] (0-based), the caret at its end; a
// length of 0 puts the caret at start. Clipped to T.
void SetSelection(QPlainTextEdit *control, int start, int length);

namespace textpos {

// Position of T where the block starts.
int BlockStart(const QTextBlock &block);
// The Qt document position that the T position stands for (a CR or LF maps to
// the block separator). position is clipped to [0, TextLength].
int ToDoc(const QTextDocument *doc, int position);
// The T position of a document position.
int FromDoc(const QTextDocument *doc, int docPosition);
// The block holding T position `position` (the CR LF ending a block belongs to it).
QTextBlock BlockAt(const QTextDocument *doc, int position);

// Maps T positions to document positions for positions that mostly go forward,
// walking the blocks instead of searching for each one.
class Mapper {
public:
    explicit Mapper(const QTextDocument *doc);
    // Document position of the character at T position `position` (0 <= position < L).
    int CharToDoc(int position);
    // Document range [docFirst, docEnd) for T[start .. start + length - 1]:
    // its characters, and the separators of the LFs it holds.
    void RangeToDoc(int start, int length, int &docFirst, int &docEnd);

private:
    void Seek(int position);
    void SetBlock(const QTextBlock &block);
    const QTextDocument *Doc;
    QTextBlock Block;
    int TStart = 0;     // T position where Block starts
    int DocStart = 0;   // document position where Block starts
    int Length = 1;     // Block.length(): its text and its separator
};

}  // namespace textpos
