#pragma once
// The colours of an editor's text, kept beside its text store instead of in
// it: one colour code per position of T. Colour changes therefore never enter
// the text, its undo history or its modified state.
//
// The store follows the text's edits itself: removed characters take their
// colours away; inserted characters take the colour of the character before
// them (at the very start of the text, that of the character after them).

#include <QColor>
#include <QObject>
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "textstore.h"

// Colour codes (0 to 3) by position, two bits each, in chunks so that an edit
// anywhere in a large text repacks only a few kilobytes.
class TColourChunks {
public:
    using Code = std::uint8_t;

    int Size() const { return Total; }
    // True while no position holds anything but code 0.
    bool Blank() const { return AllZero; }
    void Reset(int size, Code code);
    Code At(int position) const;
    void Fill(int first, int end, Code code);
    void Insert(int position, int count, Code code);
    void Erase(int position, int count);
    // Moves the codes along with many edits at once (ascending, positions
    // before the edits), in one pass: inserted positions take the code before
    // them (at the very start, the one after).
    void Apply(const TEditList &edits);
    // Calls f(first, end, code) for each run of one code in [first, end).
    template <class F>
    void Runs(int first, int end, F &&f) const;

private:
    struct Chunk {
        std::vector<std::uint64_t> Bits;  // 32 codes a word, the first in the low bits
        int Count = 0;
        Code Get(int i) const { return Code((Bits[size_t(i) >> 5] >> ((i & 31) * 2)) & 3); }
        void Set(int i, Code c) {
            std::uint64_t &w = Bits[size_t(i) >> 5];
            const int shift = (i & 31) * 2;
            w = (w & ~(std::uint64_t(3) << shift)) | (std::uint64_t(c & 3) << shift);
        }
        // Makes room for n codes (n < 32) at offset `at`, the codes after it
        // moved along in place; or takes n of them away there.
        void Open(int at, int n);
        void Close(int at, int n);
    };
    static Chunk Pack(const Code *codes, int count);
    static std::vector<Code> Unpack(const Chunk &chunk);
    // The chunk holding position (the last chunk for position == Size()).
    int Find(int position) const;
    // Replaces chunk k by the codes given, in chunks of a sensible size.
    void Replace(int k, const std::vector<Code> &codes);
    // Chunk k, if it has become small, joins a neighbour.
    void JoinSmall(int k);
    std::vector<Chunk> Chunks;
    textstore::TPartition Starts;  // position of each chunk's first code
    int Total = 0;
    mutable int Hint = 0;     // the chunk found last
    bool AllZero = true;
};

class TColourStore : public QObject {
    Q_OBJECT
public:
    // Default: no colour of its own (black words included: they show in the
    // control's black text colour); Mark: one further colour, set by CodeOf.
    enum : TColourChunks::Code { Default = 0, Green = 1, Blue = 2, Mark = 3 };

    // The store of text, made the first time it is asked for.
    static TColourStore *Of(TTextStore *text);
    static TColourStore *Find(const TTextStore *text);

    TTextStore *Text() const { return Store; }
    // The code at a position of T. A CR reads its LF's code: the two stand for
    // one line break and share its colour.
    TColourChunks::Code At(int position) const;
    // Sets the colour of the positions [first, end), quietly: the caller
    // reports what it changed with Notify.
    void Fill(int first, int end, TColourChunks::Code code);
    void Notify(int first, int end) { emit ColoursChanged(first, end); }
    // True while a change of the text is being handled.
    bool Handling() const { return InChange; }
    // The colour that a code stands for; Default gives an invalid QColor (the
    // control's own text colour).
    QColor ColourOf(TColourChunks::Code code) const;
    // The code of a colour: black is Default; a colour other than green and
    // blue becomes the Mark colour (the last one asked for).
    TColourChunks::Code CodeOf(const QColor &colour);
    const TColourChunks &Codes() const { return Chunks; }
    // True while no character has a colour of its own.
    bool Blank() const { return Chunks.Blank(); }

    // The colours of a whole text just loaded, a slice at a time: those on
    // the screen when they are painted, those asked for when they are asked
    // for, those before an edit before the edit, and the rest while the
    // program is idle, sliceChars characters in one turn of the event loop.
    // The result is the colouring of the whole text at once.
    static constexpr int kIdleSlice = 1 << 17;
    void ColourLater(int sliceChars = kIdleSlice);
    // The whole text's colouring reaches position (and the end of its line).
    void CatchUp(int position);
    // True while part of the text waits for its colours.
    bool Behind() const { return Pending >= 0; }

    // What the last colouring of one whole line (ColourRange over it) found,
    // so that the next one after an edit inside the line scans near the edit
    // alone: its range, the comments in it and the stretch edited since. Any
    // other colouring of the line, and any edit but one inside it, drops it.
    struct TLineScan {
        int First = -1, Last = -1;          // ColourRange's range, 0-based, both included
        int LineStart = 0, LineEnd = 0;     // the line's first character and its CR (or the end)
        std::vector<std::pair<int, int>> Comments;  // [start, end) of each comment run, in order
        int EditFrom = -1, EditTo = -1;     // the stretch edited since, in the text now
        bool Writing = false;               // the line's own colouring is filling
        void Keep(int first, int last, int lineStart, int lineEnd, std::vector<std::pair<int, int>> comments) {
            First = first;
            Last = last;
            LineStart = lineStart;
            LineEnd = lineEnd;
            Comments = std::move(comments);
            EditFrom = EditTo = -1;
        }
        void Drop() {
            First = Last = -1;
            Comments.clear();
            EditFrom = EditTo = -1;
        }
        // While the line's colouring writes: its own fills drop nothing.
        struct TWriting {
            explicit TWriting(TLineScan &s) : Scan(s) { Scan.Writing = true; }
            ~TWriting() { Scan.Writing = false; }
            TLineScan &Scan;
        };
    };
    TLineScan Scanned;

signals:
    // The text changed, the colours already moved along: T[position,
    // position + removed) became `added` characters (for several edits at
    // once, the span from the first to the end of the last). Handlers may
    // recolour.
    void TextChanged(int position, int removed, int added);
    // The colours of [first, end) changed; end == -1: the whole text.
    void ColoursChanged(int first, int end);
    // A change of the text has been handled, recolouring included.
    void EditFollowed();

private:
    explicit TColourStore(TTextStore *text);
    void FollowEdits(const TEditList &edits);
    // The kept line follows the edits, or is dropped.
    void FollowLine(const TEditList &edits);
    void IdleSlice();
    TTextStore *Store;
    TColourChunks Chunks;
    int Pending = -1;  // where the whole text's colouring goes on; -1: nothing waits
    int SliceChars = kIdleSlice;  // characters coloured in one turn of the event loop while idle
    bool IdleQueued = false;
    bool InChange = false;
    QRgb MarkRgb = 0;
};

template <class F>
void TColourChunks::Runs(int first, int end, F &&f) const {
    first = std::max(first, 0);
    end = std::min(end, Total);
    if (first >= end) return;
    int k = Find(first);
    int pos = first;
    int runStart = first;
    Code runCode = At(first);
    while (pos < end && k < int(Chunks.size())) {
        const Chunk &c = Chunks[size_t(k)];
        const int base = Starts.Start(k);
        const int stop = std::min(end, base + c.Count);
        for (; pos < stop; ++pos) {
            const Code code = c.Get(pos - base);
            if (code != runCode) {
                f(runStart, pos, runCode);
                runStart = pos;
                runCode = code;
            }
        }
        ++k;
    }
    f(runStart, end, runCode);
}
