#pragma once
// The text of an editor document: T (the lines joined by CR LF, a line break
// counting two positions), kept in chunks of a few thousand characters with a
// line index, on QtCore alone.
//
// - An edit costs time in proportion to its own size and to the chunks it
//   touches, never to the length of the text.
// - Each line break remembers the line end its file used (CR LF, LF or a lone
//   CR); a break typed or pasted has none and is written with the document's
//   own line end.
// - A snapshot is a copy of the chunk list: the chunks are shared and never
//   changed while a snapshot holds them, so another thread may read a snapshot
//   while editing goes on.
// - Undo and redo belong to the store. A step is one or more edits with the
//   selection before and after them; a run of typed characters (or of deleted
//   ones) merges into one step until something breaks the run.
//
// T never holds a CR without its LF or an LF without its CR. Positions between
// the two are taken to mean the CR's position; text handed in has its line
// breaks ("\r\n", "\n", "\r", U+2029) made CR LF.

#include <QObject>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "partition.h"

namespace textstore {

enum LineEnd : std::uint8_t { CrLf = 0, Lf = 1, Cr = 2, Typed = 3 };

// A character that came with a code other than its document's code for it
// (a file that writes one character with two codes): where it is, and the code.
struct OtherCode {
    int Offset;
    quint16 Code;
    bool operator==(const OtherCode &o) const { return Offset == o.Offset && Code == o.Code; }
};
using OtherCodes = std::vector<OtherCode>;

// One piece of the text.
struct Chunk {
    QString Text;                // T's characters; a CR LF is never split between chunks
    std::vector<LineEnd> Ends;   // the line end of each line break in Text, in order
    std::vector<int> Starts;     // the offset in Text just past each line break's LF
    OtherCodes Codes;            // by offset in Text, ascending; empty for almost every file
    void Index();                // Starts from Text
};

// A change of the text: T[Position, Position + Removed) became Added characters.
// Lists of edits are in ascending order of Position, positions in the text as
// it was before any of them.
struct TEdit {
    int Position = 0;
    int Removed = 0;
    int Added = 0;
};
using TEditList = std::vector<TEdit>;

// Where a position of the text before the edits is after them: moved along
// by the edits before it; one inside a removed stretch goes to its start.
int MovedBy(const TEditList &edits, int position);

// The text at one moment: what the store holds, and what a snapshot keeps.
class TText {
public:
    TText();
    int Length() const { return Total; }
    int LineCount() const { return Lines + 1; }
    // Position of the first character of line (0-based; clipped to the lines).
    int LineStart(int line) const;
    // Position of the line's CR (the end of the text for the last line).
    int LineEnd(int line) const;
    int LineLength(int line) const { return LineEnd(line) - LineStart(line); }
    // The line holding position (a line's CR and LF belong to it).
    int LineOf(int position) const;
    // The line end that the file gave the break after line (Typed for one that
    // was typed, and for the last line).
    textstore::LineEnd EndOf(int line) const;
    QChar At(int position) const;
    QString Slice(int position, int length) const;
    QString Line(int line) const { return Slice(LineStart(line), LineLength(line)); }
    // The line's characters without a copy where they lie in one piece; else
    // copied into buffer.
    QStringView LineView(int line, QString &buffer) const;
    // Calls f(const QChar *data, int count, int position) for the pieces of
    // T[position, position + length), in order.
    template <class F>
    void Pieces(int position, int length, F &&f) const;
    // Calls f(QStringView piece, const LineEnd *ends, const OtherCodes &codes)
    // for every chunk: the whole text in order, with the line end of each line
    // break of the piece and its characters' other codes.
    template <class F>
    void Chunks(F &&f) const;
    // The piece of text that holds position (the last one for Length()), and
    // where it starts.
    QStringView PieceAt(int position, int *pieceStart) const;
    // The other codes of T[position, position + length), offsets from position.
    OtherCodes CodesIn(int position, int length) const;
    // The position itself, or the CR's position when it lies between a CR and its LF.
    int Snap(int position) const;

    // The most characters a text holds: positions and lengths, and any sum
    // of two of them, fit in an int.
    static constexpr int kMaxLength = 1073741823;

protected:
    friend class TTextStore;
    int ChunkOf(int position) const { return Chars.PartOf(position); }  // the chunk holding position (the last for Length())
    int ChunkOfLine(int line) const { return Breaks.PartBefore(line); }  // the chunk where line starts (line > 0)
    int CharBase(size_t k) const { return Chars.Start(int(k)); }   // position of a chunk's first character
    int LineBase(size_t k) const { return Breaks.Start(int(k)); }  // line breaks before a chunk
    // Chunks [k, k + removed) of the lists have become those of Parts from k
    // on, count of them. sizes: room for count ints each, so that nothing is
    // allocated here when the room was made beforehand.
    void Replaced(size_t k, size_t removed, size_t count);
    void Replaced(size_t k, size_t removed, size_t count, std::vector<int> &chars, std::vector<int> &breaks);
    std::vector<std::shared_ptr<Chunk>> Parts;
    TPartition Chars;   // where each chunk starts, in characters
    TPartition Breaks;  // and in line breaks
    int Total = 0;
    int Lines = 0;
};

class TTextStore : public QObject, public TText {
    Q_OBJECT
public:
    explicit TTextStore(QObject *parent = nullptr);

    // A consistent copy of the text, for any thread to read.
    TText Snapshot() const { return *this; }

    // Replaces the whole text: text in T form or with any line breaks, ends
    // the line end of each break (Typed for any not given). Clears the undo
    // history and makes the text clean.
    void Load(QStringView text, const std::vector<textstore::LineEnd> &ends = {});
    // The same from pieces: next() fills in the next piece's text and its
    // breaks' line ends and returns false when there is none (a load in
    // pieces never holds the whole text twice). Pieces are in T form (every
    // line break a CR LF, never split between two pieces).
    // starts, where next() fills it in, is the offset just past each LF.
    // The text and the three lists come to each call of next() empty, so a
    // next() that appends to them gives each piece its own.
    void Load(const std::function<bool(QString &text, std::vector<textstore::LineEnd> &ends,
                                       textstore::OtherCodes &codes, std::vector<int> &starts)> &next);

    // Drops the other codes for which drop(character, code) is true (after a
    // load, those that turn out to be the document's own).
    void DropCodes(const std::function<bool(QChar ch, quint16 code)> &drop);

    // An edit made by the user: the selection before it and the caret after it
    // go with the undo step. `merge` says what kind of edit may join a step
    // before it (typing, deleting backwards or forwards).
    enum Merge { NoMerge, TypingRun, BackspaceRun, DeleteRun };
    struct Replacement {
        int Position;
        int Removed;
        QString Text;
    };
    // False when the text would grow past kMaxLength (nothing changes then).
    // Throws std::bad_alloc, the text as it was, when memory runs out.
    bool Replace(int position, int removed, QStringView text, int anchorBefore, int caretBefore, int caretAfter,
                 Merge merge = NoMerge);
    // Many replacements as one undo step (ascending, apart, positions in the
    // text before them); the caret and selection after are as before, moved
    // along by them, unless anchorAfter and caretAfter give them. False
    // when the text would grow past kMaxLength (nothing changes then). Where
    // memory runs out half way, those made so far are the step, and
    // std::bad_alloc is thrown once they have been announced; undo and redo
    // of a step do the same.
    bool ReplaceMany(std::vector<Replacement> replacements, int anchorBefore, int caretBefore, int anchorAfter = -1,
                     int caretAfter = -1);
    // Called before any edit with the last position of the text as it stands
    // that the edit touches (the colours use it to be in place first).
    std::function<void(int until)> BeforeChange;

    // The next edit starts a step of its own.
    void BreakMerge() { Mergeable = false; }

    bool CanUndo() const { return Done > 0; }
    bool CanRedo() const { return Done < int(History.size()); }
    // Undoes or redoes one step; anchor and caret get the selection to show.
    bool Undo(int &anchor, int &caret);
    bool Redo(int &anchor, int &caret);
    void ClearHistory();

    // Modified: the text differs from the one last made clean (load or save);
    // undo and redo back to that text make it clean again.
    bool IsModified() const { return Done != Clean; }
    void SetModified(bool modified);
    // Counts every change of the text.
    int Revision() const { return Rev; }

    // Inside a handler of Edited: the text that edit `index` of the list took
    // away, with its line breaks as CR LF.
    QString RemovedText(size_t index) const;

signals:
    // The text changed: the edits as they were made; the text is already new.
    void Edited(const textstore::TEditList &edits);
    void UndoAvailable(bool available);
    void RedoAvailable(bool available);
    void ModificationChanged(bool modified);

private:
    // What few edits have: line ends of the file among the removed or
    // inserted line breaks (none: every break is a typed one) and other codes.
    struct RecordExtra {
        std::vector<textstore::LineEnd> RemovedEnds, InsertedEnds;
        textstore::OtherCodes RemovedCodes, InsertedCodes;  // offsets within Removed and Inserted
    };
    struct Record {
        int Position = 0;             // in the text before the edits of its batch
        QString Removed, Inserted;
        std::shared_ptr<const RecordExtra> More;  // none for most edits; shared by copies
        const RecordExtra &Info() const;
        RecordExtra &Change();        // a copy of its own, made when first changed
    };
    struct Step {
        std::vector<Record> Edits;    // ascending, one batch
        int AnchorBefore = 0, CaretBefore = 0, AnchorAfter = 0, CaretAfter = 0;
        Merge Kind = NoMerge;
    };
    static void Capture(const TText &t, int position, int length, Record &r);
    static std::vector<textstore::LineEnd> FullEnds(const std::vector<textstore::LineEnd> &ends, const QString &text);
    // Applies one batch (records ascending) and returns how many of its
    // records are in the text: all of them, or, where memory ran out, those
    // before the group of chunks it ran out in (the rest of the text as it was).
    size_t Apply(std::vector<Record> &batch);
    // Puts out in place of chunks [k1, next); allocates nothing where room
    // was made for the lists (see Apply).
    void PlaceChunks(size_t k1, size_t next, std::vector<std::shared_ptr<Chunk>> &out, std::vector<int> &chars,
                     std::vector<int> &breaks);
    void Push(Step step);
    bool Travel(bool redo, int &anchor, int &caret);
    // Cuts step index after its first `made` records, which are in the text
    // (redo) or out of it again (undo).
    void SplitStep(int index, size_t made, bool redo);
    void Announce(bool wasUndo, bool wasRedo, bool wasModified);
    // Tells Edited's handlers of edits whose removed texts are records, or
    // the whole of a text that a load replaced.
    void Announce(const TEditList &edits, const Record *records, const TText *replaced);
    const Record *Announced = nullptr;
    const TText *ReplacedText = nullptr;
    std::vector<Step> History;
    int Done = 0;    // steps of History in the text
    int Clean = 0;   // Done when the text was clean; -1 when no history reaches it
    bool Mergeable = false;
    int Rev = 0;
};

template <class F>
void TText::Pieces(int position, int length, F &&f) const {
    if (position < 0) {
        length += position;
        position = 0;
    }
    length = std::min(length, Total - position);
    if (length <= 0) return;
    size_t k = size_t(ChunkOf(position));
    while (length > 0 && k < Parts.size()) {
        const Chunk &c = *Parts[k];
        const int offset = position - CharBase(k);
        const int n = std::min(length, int(c.Text.size()) - offset);
        if (n > 0) {
            f(c.Text.constData() + offset, n, position);
            position += n;
            length -= n;
        }
        ++k;
    }
}

template <class F>
void TText::Chunks(F &&f) const {
    for (const auto &c : Parts) f(QStringView(c->Text), c->Ends.data(), c->Codes);
}

}  // namespace textstore

using textstore::TEdit;
using textstore::TText;
using textstore::TEditList;
using textstore::TTextStore;
