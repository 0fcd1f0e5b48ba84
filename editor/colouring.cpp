#include "colouring.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "textpos.h"

namespace colouring {
namespace {

int g_active = 0;

struct ActiveGuard {
    ActiveGuard() { ++g_active; }
    ~ActiveGuard() { --g_active; }
    ActiveGuard(const ActiveGuard &) = delete;
    ActiveGuard &operator=(const ActiveGuard &) = delete;
};

constexpr int kNone = -1;  // no character: past the end of T

// The scan over T[first .. last], handing each run to sink(run).
template <class Sink>
void ScanRuns(QStringView text, int textBase, int textLength, int first, int last, Sink &&sink) {
    const QChar *data = text.data();
    const int textEnd = textBase + int(text.size());  // first index not held
    auto at = [&](int i) -> int {
        if (i < 1 || i > textLength || i < textBase || i >= textEnd) return kNone;
        return data[i - textBase].unicode();
    };
    auto isDelim = [](int c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ')' || c == ';' || c == ':';
    };
    bool pending = false;
    int wordStart = 0;
    auto colourWord = [&](int end) {  // the pending word is T[wordStart .. end - 1]
        const QStringView word(data + (wordStart - textBase), end - wordStart);
        sink(Run{wordStart - 1, end - wordStart, IsKeyword(word) ? BlueRun : BlackRun});
        pending = false;
    };
    int i = first;
    while (i <= last) {
        const int c = at(i);
        const int next = at(i + 1);
        if (c == '/' && next == '*') {
            pending = false;
            int k = i + 2;
            while (k <= last + 1 && !(at(k) == '*' && at(k + 1) == '/')) ++k;
            if (k <= last + 1) {
                sink(Run{i - 1, k + 2 - i, GreenRun});
                i = k + 2;
                continue;
            }
            sink(Run{i - 1, last - i + 1, GreenRun});
            return;
        }
        if (c == '/' && next == '/') {
            pending = false;
            int k = i + 2;
            while (k <= last + 1 && at(k) != '\n') ++k;
            if (k <= last + 1) {
                sink(Run{i - 1, k - i + 1, GreenRun});
                i = k;  // the LF is looked at again, as a delimiter
                continue;
            }
            const int end = std::min(last + 1, textLength);
            sink(Run{i - 1, end - i + 1, GreenRun});
            return;
        }
        if (isDelim(c)) {
            const bool closed = pending;
            if (pending) colourWord(i);
            // A CR that closed a word passes over the character after it too.
            i += (closed && c == '\r') ? 2 : 1;
            continue;
        }
        if (!pending) {
            pending = true;
            wordStart = i;
        }
        ++i;
    }
    // A word still pending at the end of the range keeps its colours.
}

QRgb ColourOf(const QTextCharFormat &format, QRgb fallback) {
    const QBrush b = format.foreground();
    return b.style() == Qt::NoBrush ? fallback : b.color().rgb();
}

QRgb RgbOf(Colour c) {
    switch (c) {
    case GreenRun: return Green().rgb();
    case BlueRun: return Blue().rgb();
    case BlackRun: break;
    }
    return Black().rgb();
}

// Reads the colours of the document, for ranges that go forward.
class ColourReader {
public:
    ColourReader(const QTextDocument *doc, QRgb fallback) : Doc(doc), Fallback(fallback) {
        // A document whose formats give no character a colour of its own (as
        // after a load) shows the default colour everywhere.
        Plain = true;
        for (const QTextFormat &f : doc->allFormats())
            if (f.isCharFormat() && f.hasProperty(QTextFormat::ForegroundBrush)) Plain = false;
    }

    bool IsPlain() const { return Plain; }
    QRgb Default() const { return Fallback; }

    // True when every character of the document range [first, end) shows want.
    bool Uniform(int first, int end, QRgb want) {
        if (Plain) return want == Fallback || first >= end;
        int pos = first;
        while (pos < end) {
            if (!Block.isValid() || pos < BlockPos || pos >= BlockPos + BlockLen) {
                const QTextBlock next = Block.isValid() ? Block.next() : QTextBlock();
                if (next.isValid() && pos >= BlockPos + BlockLen && pos < BlockPos + BlockLen + next.length())
                    SetBlock(next, BlockPos + BlockLen);
                else
                    SetBlock(Doc->findBlock(pos), -1);
                if (!Block.isValid()) return true;
            }
            const int textEnd = BlockPos + BlockLen - 1;
            if (pos < textEnd) {
                if (FragPos > pos) Rewind();
                while (!It.atEnd() && FragPos + It.fragment().length() <= pos) {
                    FragPos += It.fragment().length();
                    ++It;
                }
                if (It.atEnd()) return false;
                const QTextFragment f = It.fragment();
                if (ColourOf(f.charFormat(), Fallback) != want) return false;
                pos = std::min(FragPos + f.length(), end);
            } else {
                // The block separator; its format is the char format of the next block.
                const QTextBlock next = Block.next();
                if (next.isValid() && ColourOf(next.charFormat(), Fallback) != want) return false;
                pos = textEnd + 1;
            }
        }
        return true;
    }

private:
    void SetBlock(const QTextBlock &b, int position) {
        Block = b;
        if (!b.isValid()) return;
        BlockPos = position >= 0 ? position : b.position();
        BlockLen = b.length();
        Rewind();
    }
    void Rewind() {
        It = Block.begin();
        FragPos = It.atEnd() ? BlockPos : It.fragment().position();
    }

    const QTextDocument *Doc;
    QRgb Fallback;
    bool Plain = false;
    QTextBlock Block;
    int BlockPos = 0, BlockLen = 0;
    QTextBlock::iterator It;
    int FragPos = 0;
};

struct Op {
    int first, end;
    Colour colour;
};

// Collects the format changes that the runs need: a run that already shows its
// colour needs none, and changes of one colour with nothing but that colour
// between them become one.
class Planner {
public:
    Planner(const QTextDocument *doc, QRgb fallback) : Map(doc), Reader(doc, fallback) {}

    void Add(const Run &run) {
        const QRgb want = RgbOf(run.colour);
        if (Reader.IsPlain() && want == Reader.Default()) {
            LastWasOp = false;  // already so, and no need to find where
            return;
        }
        int first = 0, end = 0;
        Map.RangeToDoc(run.start, run.length, first, end);
        const bool joinable = LastWasOp && Ops.back().colour == run.colour && Ops.back().end <= first;
        const bool gapOk = joinable && Reader.Uniform(Ops.back().end, first, want);
        if (Reader.Uniform(first, end, want)) {
            LastWasOp = false;
            return;
        }
        if (gapOk)
            Ops.back().end = end;
        else
            Ops.push_back(Op{first, end, run.colour});
        LastWasOp = true;
    }
    std::vector<Op> Ops;

private:
    textpos::Mapper Map;
    ColourReader Reader;
    bool LastWasOp = false;
};

void ApplyOps(QTextDocument *doc, const std::vector<Op> &ops) {
    if (ops.empty()) return;
    QTextCharFormat formats[3];
    formats[BlackRun].setForeground(Black());
    formats[GreenRun].setForeground(Green());
    formats[BlueRun].setForeground(Blue());
    // With no undo history at all there is no edit to join: the colouring is
    // then kept out of the history (switching undo off clears nothing).
    const bool alone = doc->isUndoRedoEnabled() && !doc->isUndoAvailable() && !doc->isRedoAvailable();
    if (alone) doc->setUndoRedoEnabled(false);
    QTextCursor c(doc);
    // One edit block, joined to the edit before it: no undo step of its own, and
    // the layout hears of the changes once.
    c.joinPreviousEditBlock();
    for (const Op &op : ops) {
        c.setPosition(op.first);
        c.setPosition(op.end, QTextCursor::KeepAnchor);
        c.mergeCharFormat(formats[op.colour]);
    }
    c.endEditBlock();
    if (alone) doc->setUndoRedoEnabled(true);
}

}  // namespace

const std::vector<QString> &Keywords() {
    static const std::vector<QString> table = {
        // preprocessor
        QStringLiteral("#include"), QStringLiteral("#if"), QStringLiteral("#ifdef"), QStringLiteral("#ifndef"),
        QStringLiteral("#elif"), QStringLiteral("#else"), QStringLiteral("#endif"), QStringLiteral("#define"),
        QStringLiteral("#undef"), QStringLiteral("#line"), QStringLiteral("#pragma"),
        // storage
        QStringLiteral("typedef"), QStringLiteral("static"), QStringLiteral("extern"), QStringLiteral("const"),
        QStringLiteral("register"), QStringLiteral("auto"), QStringLiteral("far"), QStringLiteral("near"),
        // types
        QStringLiteral("void"), QStringLiteral("char"), QStringLiteral("int"), QStringLiteral("short"),
        QStringLiteral("long"), QStringLiteral("float"), QStringLiteral("double"), QStringLiteral("struct"),
        QStringLiteral("union"), QStringLiteral("enum"), QStringLiteral("unsigned"), QStringLiteral("signed"),
        // statements
        QStringLiteral("if"), QStringLiteral("else"), QStringLiteral("for"), QStringLiteral("do"),
        QStringLiteral("while"), QStringLiteral("switch"), QStringLiteral("case"), QStringLiteral("default"),
        QStringLiteral("break"), QStringLiteral("continue"), QStringLiteral("return"), QStringLiteral("sizeof"),
        // compiler extensions
        QStringLiteral("_asm_inline"), QStringLiteral("new"), QStringLiteral("delete"),
    };
    return table;
}

bool IsKeyword(QStringView word) {
    if (word.size() < 2 || word.size() > 11) return false;
    for (const QString &k : Keywords())
        if (k.size() == word.size() && QStringView(k) == word) return true;
    return false;
}

bool IsDelimiter(QChar c) {
    switch (c.unicode()) {
    case ' ': case '\t': case '\r': case '\n': case '(': case ')': case ';': case ':': return true;
    default: return false;
    }
}

std::vector<Run> Scan(QStringView text, int textBase, int textLength, int first, int last) {
    std::vector<Run> runs;
    first = std::max(first, 1);
    last = std::min(last, textLength);
    if (first <= last) ScanRuns(text, textBase, textLength, first, last, [&](const Run &r) { runs.push_back(r); });
    return runs;
}

bool Active() { return g_active > 0; }

}  // namespace colouring

void ColourRange(QPlainTextEdit *control, int first, int last) {
    using namespace colouring;
    if (!control) return;
    ActiveGuard guard;
    QTextDocument *doc = control->document();
    const int length = TextLength(doc);
    const int p0 = SelStart(control);
    first = std::max(first, 1);
    last = std::min(last, length);
    if (first <= last) {
        // The scan may look two characters past the range.
        const int sliceEnd = std::min(length, last + 2);
        const QString text = TextSlice(control, first - 1, sliceEnd - first + 1);
        Planner plan(doc, control->palette().color(QPalette::Text).rgb());
        ScanRuns(text, first, length, first, last, [&](const Run &r) { plan.Add(r); });
        ApplyOps(doc, plan.Ops);
    }
    const QTextCursor c = control->textCursor();
    if (c.hasSelection() || textpos::FromDoc(doc, c.position()) != p0) SetSelection(control, p0, 0);
}
