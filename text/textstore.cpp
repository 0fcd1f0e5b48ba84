#include "textstore.h"

#include <algorithm>
#include <cstring>

namespace textstore {

namespace {

// How large the chunks are. A load keeps each piece that its loader hands in
// of at most kLimit characters as one chunk, and cuts longer text into chunks
// of kTarget. An edit builds the chunks it touches anew, cut into even parts
// of at most kLimit, so typing lets a chunk grow to kLimit before it is cut in
// two. A rebuilt group that comes out under kSmall (a quarter of kTarget)
// takes in the chunk after it, unless a later edit of the same batch touches
// that one, or else joins the chunk before it where the two stay within
// kLimit: typing and deleting leave few chunks under kSmall.
constexpr int kTarget = 4096;
constexpr int kLimit = 8192;
constexpr int kSmall = kTarget / 4;

// T form of text: every line break a CR LF. Counts the breaks.
QString Normalised(QStringView text, int *breaks) {
    int n = 0;
    bool plain = true;
    const QChar *p = text.data();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = p[i].unicode();
        if (c == u'\r') {
            ++n;
            if (i + 1 < size && p[i + 1].unicode() == u'\n')
                ++i;
            else
                plain = false;
        } else if (c == u'\n' || c == u'\x2029') {
            ++n;
            plain = false;
        }
    }
    if (breaks) *breaks = n;
    if (plain) return text.toString();
    QString out;
    out.reserve(size + n);
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = p[i].unicode();
        if (c == u'\r' || c == u'\n' || c == u'\x2029') {
            out += QLatin1String("\r\n");
            if (c == u'\r' && i + 1 < size && p[i + 1].unicode() == u'\n') ++i;
        } else {
            out += p[i];
        }
    }
    return out;
}

// Builds chunks of about Size characters from pieces of text in T form,
// each LF of which comes with the line end of its break.
class Builder {
public:
    explicit Builder(int size = kTarget) : Size(std::max(size, 1)) {}
    std::vector<std::shared_ptr<Chunk>> Out;

    // codes: the other codes of text, offsets from its start.
    void Add(QStringView text, const LineEnd *ends, const OtherCode *codes = nullptr, size_t codeCount = 0) {
        const QChar *p = text.data();
        qsizetype n = text.size();
        size_t e = 0;
        size_t c = 0;
        qsizetype done = 0;  // characters of text added
        while (n > 0) {
            if (!Cur) {
                Cur = std::make_shared<Chunk>();
                Cur->Text.reserve(Size + 2);
            }
            qsizetype room = std::max<qsizetype>(Size - Cur->Text.size(), 1);
            qsizetype take = std::min(n, room);
            // Never end a chunk between a CR and its LF.
            if (take < n && p[take - 1].unicode() == u'\r') ++take;
            const qsizetype before = Cur->Text.size();
            Cur->Text.append(p, take);
            for (; c < codeCount && codes[c].Offset < done + take; ++c)
                Cur->Codes.push_back({int(before + codes[c].Offset - done), codes[c].Code});
            const QChar *q = Cur->Text.constData();
            for (qsizetype i = before; i < Cur->Text.size(); ++i) {
                if (q[i].unicode() != u'\n') continue;
                Cur->Ends.push_back(ends ? ends[e] : Typed);
                ++e;
                Cur->Starts.push_back(int(i + 1));
            }
            p += take;
            n -= take;
            done += take;
            if (Cur->Text.size() >= Size) Flush();
        }
    }
    // A piece in T form of about a chunk's size becomes a chunk as it is,
    // without a copy; anything else goes through Add.
    void Adopt(QString &&text, const std::vector<LineEnd> &ends, OtherCodes &&codes, std::vector<int> &&starts) {
        const qsizetype n = text.size();
        if (n == 0) return;
        if (n > kLimit || text.at(n - 1).unicode() == u'\r') {
            Add(text, ends.data(), codes.data(), codes.size());
            return;
        }
        Flush();
        auto c = std::make_shared<Chunk>();
        c->Text = std::move(text);
        if (starts.empty())
            c->Index();
        else
            c->Starts = std::move(starts);
        c->Ends.assign(c->Starts.size(), Typed);
        std::copy_n(ends.begin(), std::min(ends.size(), c->Ends.size()), c->Ends.begin());
        c->Codes = std::move(codes);
        Cur.reset();
        Out.push_back(std::move(c));
    }
    void Flush() {
        if (Cur && !Cur->Text.isEmpty()) {
            Cur->Text.squeeze();
            Out.push_back(std::move(Cur));
        }
        Cur.reset();
    }
    // The end: a last chunk that came out small joins the one before it.
    void Finish() {
        Flush();
        if (Out.size() < 2 || Out.back()->Text.size() >= kSmall) return;
        Chunk &into = *Out[Out.size() - 2];
        const Chunk &last = *Out.back();
        const int base = int(into.Text.size());
        into.Text.append(last.Text);
        into.Ends.insert(into.Ends.end(), last.Ends.begin(), last.Ends.end());
        for (int at : last.Starts) into.Starts.push_back(base + at);
        for (const OtherCode &x : last.Codes) into.Codes.push_back({base + x.Offset, x.Code});
        Out.pop_back();
    }

private:
    int Size;
    std::shared_ptr<Chunk> Cur;
};

// The size of each of the even parts that `total` characters are cut into.
int PartSize(qint64 total) {
    const qint64 parts = std::max<qint64>(1, (total + kLimit - 1) / kLimit);
    return int((total + parts - 1) / parts);
}

}  // namespace

void Chunk::Index() {
    Starts.clear();
    const QChar *p = Text.constData();
    for (qsizetype i = 0; i < Text.size(); ++i)
        if (p[i].unicode() == u'\n') Starts.push_back(int(i + 1));
}

TText::TText() { Parts.push_back(std::make_shared<Chunk>()); }

void TText::Replaced(size_t k, size_t removed, size_t count) {
    std::vector<int> chars, breaks;
    chars.reserve(count);
    breaks.reserve(count);
    Replaced(k, removed, count, chars, breaks);
}

void TText::Replaced(size_t k, size_t removed, size_t count, std::vector<int> &chars, std::vector<int> &breaks) {
    chars.clear();
    breaks.clear();
    for (size_t i = 0; i < count; ++i) {
        chars.push_back(int(Parts[k + i]->Text.size()));
        breaks.push_back(int(Parts[k + i]->Ends.size()));
    }
    Chars.Replace(int(k), int(removed), chars);
    Breaks.Replace(int(k), int(removed), breaks);
    Total = Chars.End();
    Lines = Breaks.End();
}

int TText::LineStart(int line) const {
    if (line <= 0) return 0;
    if (line > Lines) line = Lines;
    if (line == 0) return 0;
    const int k = ChunkOfLine(line);
    return CharBase(size_t(k)) + Parts[size_t(k)]->Starts[size_t(line - LineBase(size_t(k)) - 1)];
}

int TText::LineEnd(int line) const {
    if (line < 0) line = 0;
    if (line >= Lines) return Total;
    return LineStart(line + 1) - 2;
}

int TText::LineOf(int position) const {
    position = std::clamp(position, 0, Total);
    const int k = ChunkOf(position);
    const Chunk &c = *Parts[size_t(k)];
    const int offset = position - CharBase(size_t(k));
    return LineBase(size_t(k)) + int(std::upper_bound(c.Starts.begin(), c.Starts.end(), offset) - c.Starts.begin());
}

LineEnd TText::EndOf(int line) const {
    if (line < 0 || line >= Lines) return Typed;
    const int k = ChunkOfLine(line + 1);
    return Parts[size_t(k)]->Ends[size_t(line - LineBase(size_t(k)))];
}

QChar TText::At(int position) const {
    if (position < 0 || position >= Total) return QChar();
    const int k = ChunkOf(position);
    return Parts[size_t(k)]->Text[position - CharBase(size_t(k))];
}

QString TText::Slice(int position, int length) const {
    QString out;
    if (position < 0) {
        length += position;
        position = 0;
    }
    length = std::min(length, Total - position);
    if (length <= 0) return out;
    out.reserve(length);
    Pieces(position, length, [&](const QChar *p, int n, int) { out.append(p, n); });
    return out;
}

QStringView TText::LineView(int line, QString &buffer) const {
    const int start = LineStart(line), length = LineEnd(line) - start;
    int base = 0;
    const QStringView piece = PieceAt(start, &base);
    if (start - base + length <= piece.size()) return piece.mid(start - base, length);
    buffer = Slice(start, length);
    return buffer;
}

QStringView TText::PieceAt(int position, int *pieceStart) const {
    const int k = ChunkOf(std::clamp(position, 0, Total));
    if (pieceStart) *pieceStart = CharBase(size_t(k));
    return QStringView(Parts[size_t(k)]->Text);
}

int MovedBy(const TEditList &edits, int position) {
    int shift = 0;
    for (const TEdit &e : edits) {
        if (e.Position + e.Removed <= position)
            shift += e.Added - e.Removed;
        else if (e.Position < position)
            return e.Position + shift;  // inside a changed stretch: to its start
        else
            break;
    }
    return position + shift;
}

OtherCodes TText::CodesIn(int position, int length) const {
    OtherCodes out;
    if (length <= 0) return out;
    size_t k = size_t(ChunkOf(position));
    for (; k < Parts.size() && CharBase(k) < position + length; ++k) {
        for (const OtherCode &c : Parts[k]->Codes) {
            const int at = CharBase(k) + c.Offset;
            if (at >= position && at < position + length) out.push_back({at - position, c.Code});
        }
    }
    return out;
}

int TText::Snap(int position) const {
    position = std::clamp(position, 0, Total);
    if (position > 0 && position < Total && At(position).unicode() == u'\n' && At(position - 1).unicode() == u'\r')
        return position - 1;
    return position;
}

}  // namespace textstore

using namespace textstore;

TTextStore::TTextStore(QObject *parent) : QObject(parent) {}

void TTextStore::Load(QStringView text, const std::vector<textstore::LineEnd> &ends) {
    int breaks = 0;
    QString t = Normalised(text, &breaks);
    std::vector<textstore::LineEnd> all(size_t(breaks), Typed);
    std::copy_n(ends.begin(), std::min(ends.size(), all.size()), all.begin());
    bool given = false;
    Load([&](QString &piece, std::vector<textstore::LineEnd> &pieceEnds, OtherCodes &, std::vector<int> &) {
        if (given) return false;
        given = true;
        piece = std::move(t);
        pieceEnds = std::move(all);
        return true;
    });
}

void TTextStore::Load(const std::function<bool(QString &, std::vector<textstore::LineEnd> &, textstore::OtherCodes &,
                                              std::vector<int> &)> &next) {
    const int old = Total;
    Builder b;
    QString piece;
    std::vector<textstore::LineEnd> ends;
    OtherCodes codes;
    std::vector<int> starts;
    while (next(piece, ends, codes, starts)) {
        b.Adopt(std::move(piece), ends, std::move(codes), std::move(starts));
        // Each piece comes to next() with nothing in its lists.
        piece = QString();
        ends.clear();
        codes.clear();
        starts.clear();
    }
    b.Flush();
    // The old text stays until its handlers have heard of the change.
    TText before = *this;
    const size_t oldCount = Parts.size();
    Parts = std::move(b.Out);
    if (Parts.empty()) Parts.push_back(std::make_shared<Chunk>());
    Replaced(0, oldCount, Parts.size());
    ClearHistory();
    ++Rev;
    Announce({TEdit{0, old, Total}}, nullptr, &before);
}

void TTextStore::Announce(const TEditList &edits, const Record *records, const TText *replaced) {
    struct Reset {
        TTextStore *Store;
        ~Reset() {
            Store->Announced = nullptr;
            Store->ReplacedText = nullptr;
        }
    } reset{this};
    Announced = records;
    ReplacedText = replaced;
    emit Edited(edits);
}

QString TTextStore::RemovedText(size_t index) const {
    if (ReplacedText) return index == 0 ? ReplacedText->Slice(0, ReplacedText->Length()) : QString();
    return Announced ? Announced[index].Removed : QString();
}

void TTextStore::DropCodes(const std::function<bool(QChar, quint16)> &drop) {
    for (auto &part : Parts) {
        if (part->Codes.empty()) continue;
        if (part.use_count() > 1) part = std::make_shared<Chunk>(*part);
        OtherCodes &codes = part->Codes;
        const QString &text = part->Text;
        codes.erase(std::remove_if(codes.begin(), codes.end(),
                                   [&](const OtherCode &c) { return drop(text.at(c.Offset), c.Code); }),
                    codes.end());
    }
}

size_t TTextStore::Apply(std::vector<Record> &batch) {
    const size_t n = batch.size();
    if (n == 0) return 0;
    // The records go in groups: the chunks one record touches, and those of
    // the records that start in them. Each group's chunks are built anew and
    // the old ones let go at once, so that the old and the new text are
    // never held whole at the same time; a chunk between two groups stays as
    // it is.
    const size_t k1 = size_t(ChunkOf(batch.front().Position));
    size_t next = k1;  // the first old chunk not yet placed
    std::vector<std::shared_ptr<Chunk>> out;
    std::vector<int> chars, breaks;  // the sizes of out's chunks, when they are placed
    // Room for m chunks in out and in the lists that placing them fills.
    auto room = [&](size_t m) {
        auto grow = [m](auto &v) {
            if (v.capacity() < m) v.reserve(std::max(m, 2 * v.capacity()));
        };
        grow(out);
        grow(chars);
        grow(breaks);
    };
    size_t i = 0;
    try {
        while (i < n) {
            size_t g1 = std::max(next, size_t(ChunkOf(batch[i].Position)));
            size_t g2 = g1;
            size_t j = i;
            qint64 total = 0;
            for (; j < n && size_t(ChunkOf(batch[j].Position)) <= g2; ++j) {
                const Record &r = batch[j];
                g2 = std::max(g2, size_t(ChunkOf(r.Position + int(r.Removed.size()))));
                total += r.Inserted.size() - r.Removed.size();
            }
            for (; next < g1; ++next) {
                room(out.size() + 1);
                out.push_back(Parts[next]);
            }
            const int base = CharBase(g1);
            total += CharBase(g2) + Parts[g2]->Text.size() - base;
            // A group that comes out small takes in the chunk after it, when
            // no later record touches that one; else the one before it.
            const bool lastGroup = j == n;
            if (total < kSmall && g2 + 1 < Parts.size() && (lastGroup || size_t(ChunkOf(batch[j].Position)) > g2 + 1)) {
                ++g2;
                total += Parts[g2]->Text.size();
            }
            bool withBefore = false;
            if (total < kSmall && !out.empty() && out.back()->Text.size() + total <= kLimit) {
                withBefore = true;
                total += out.back()->Text.size();
            }
            Builder b(PartSize(total));
            // The old text T[at, until) of the group, in pieces.
            auto copyChunk = [&](const Chunk &c, int offset, int count) {
                const auto firstBreak = std::lower_bound(c.Starts.begin(), c.Starts.end(), offset + 1) - c.Starts.begin();
                OtherCodes codes;
                for (const OtherCode &x : c.Codes)
                    if (x.Offset >= offset && x.Offset < offset + count) codes.push_back({x.Offset - offset, x.Code});
                b.Add(QStringView(c.Text.constData() + offset, count), c.Ends.data() + firstBreak, codes.data(),
                      codes.size());
            };
            if (withBefore) copyChunk(*out.back(), 0, int(out.back()->Text.size()));
            int at = base;
            size_t k = g1;
            auto copy = [&](int until) {
                while (at < until) {
                    while (k < g2 && CharBase(k + 1) <= at) ++k;
                    const Chunk &c = *Parts[k];
                    const int offset = at - CharBase(k);
                    const int count = std::min(until - at, int(c.Text.size()) - offset);
                    copyChunk(c, offset, count);
                    at += count;
                }
            };
            for (size_t r = i; r < j; ++r) {
                const Record &x = batch[r];
                copy(x.Position);
                const RecordExtra &more = x.Info();
                b.Add(x.Inserted, more.InsertedEnds.empty() ? nullptr : more.InsertedEnds.data(),
                      more.InsertedCodes.data(), more.InsertedCodes.size());
                at = x.Position + int(x.Removed.size());
            }
            copy(CharBase(g2) + int(Parts[g2]->Text.size()));
            b.Finish();
            // The group is built: its old chunks go, the new ones take their
            // place. Room is made first for every list that placing them
            // changes, so that from here on nothing can fail.
            const size_t placed = out.size() - (withBefore ? 1 : 0) + b.Out.size();
            const size_t count = Parts.size() - (g2 + 1 - k1) + placed;
            room(placed);
            if (Parts.capacity() < count) Parts.reserve(std::max(count, 2 * Parts.capacity()));
            Chars.Reserve(std::max(Parts.size(), count));
            Breaks.Reserve(std::max(Parts.size(), count));
            if (withBefore) out.pop_back();
            for (size_t g = g1; g <= g2; ++g) Parts[g].reset();
            for (auto &c : b.Out) out.push_back(std::move(c));
            next = g2 + 1;
            i = j;
        }
    } catch (const std::bad_alloc &) {
        // Memory ran out inside a group: the groups before it stand, with
        // the records they hold; the rest of the text is as it was.
        PlaceChunks(k1, next, out, chars, breaks);
        ++Rev;
        return i;
    }
    PlaceChunks(k1, next, out, chars, breaks);
    ++Rev;
    return n;
}

void TTextStore::PlaceChunks(size_t k1, size_t next, std::vector<std::shared_ptr<Chunk>> &out, std::vector<int> &chars,
                             std::vector<int> &breaks) {
    const size_t removed = next - k1;
    if (out.empty() && removed == Parts.size()) out.push_back(std::make_shared<Chunk>());
    // (both lists keep their length where they can, so nothing moves)
    const size_t common = std::min(removed, out.size());
    for (size_t c = 0; c < common; ++c) Parts[k1 + c] = std::move(out[c]);
    if (out.size() > removed)
        Parts.insert(Parts.begin() + std::ptrdiff_t(next), std::make_move_iterator(out.begin() + std::ptrdiff_t(common)),
                     std::make_move_iterator(out.end()));
    else
        Parts.erase(Parts.begin() + std::ptrdiff_t(k1 + common), Parts.begin() + std::ptrdiff_t(next));
    Replaced(k1, removed, out.size(), chars, breaks);
}

namespace {

// Removed text and ends of T[position, position + length) as they stand.
void CaptureInto(const TText &t, int position, int length, QString &text, std::vector<textstore::LineEnd> &ends,
                 OtherCodes &codes) {
    text = t.Slice(position, length);
    codes = t.CodesIn(position, length);
    ends.clear();
    if (!text.contains(QLatin1Char('\n'))) return;
    const int firstLine = t.LineOf(position);
    const int n = int(text.count(QLatin1Char('\n')));
    for (int i = 0; i < n; ++i) ends.push_back(t.EndOf(firstLine + i));
}

}  // namespace

const TTextStore::RecordExtra &TTextStore::Record::Info() const {
    static const RecordExtra none;
    return More ? *More : none;
}

TTextStore::RecordExtra &TTextStore::Record::Change() {
    auto own = More ? std::make_shared<RecordExtra>(*More) : std::make_shared<RecordExtra>();
    RecordExtra &m = *own;
    More = std::move(own);
    return m;
}

// The line end of every break of text: ends, or all typed where ends is empty.
std::vector<textstore::LineEnd> TTextStore::FullEnds(const std::vector<textstore::LineEnd> &ends, const QString &text) {
    if (!ends.empty()) return ends;
    return std::vector<textstore::LineEnd>(size_t(text.count(QLatin1Char('\n'))), Typed);
}

// What T[position, position + length) holds, into the record as what it removes.
void TTextStore::Capture(const TText &t, int position, int length, Record &r) {
    std::vector<textstore::LineEnd> ends;
    OtherCodes codes;
    CaptureInto(t, position, length, r.Removed, ends, codes);
    bool typed = true;  // breaks without a line end of a file need no list
    for (textstore::LineEnd e : ends) typed = typed && e == Typed;
    if (typed) ends.clear();
    if (ends.empty() && codes.empty()) return;
    RecordExtra &m = r.Change();
    m.RemovedEnds = std::move(ends);
    m.RemovedCodes = std::move(codes);
}

bool TTextStore::Replace(int position, int removed, QStringView text, int anchorBefore, int caretBefore,
                         int caretAfter, Merge merge) {
    position = Snap(position);
    const int end = Snap(std::clamp(position + std::max(removed, 0), position, Total));
    if (BeforeChange) BeforeChange(end);
    Record r;
    r.Position = position;
    r.Inserted = Normalised(text, nullptr);  // every inserted break is a typed one
    Capture(*this, position, end - position, r);
    if (r.Removed.isEmpty() && r.Inserted.isEmpty()) return true;
    if (qint64(Total) - r.Removed.size() + r.Inserted.size() > kMaxLength) return false;
    const bool wasUndo = CanUndo(), wasRedo = CanRedo(), wasModified = IsModified();
    const TEdit edit{position, int(r.Removed.size()), int(r.Inserted.size())};
    std::vector<Record> batch{r};
    if (Apply(batch) == 0) throw std::bad_alloc();
    // Joins the step before it where it goes on the same run.
    bool merged = false;
    if (Mergeable && merge != NoMerge && Done == int(History.size()) && Done > 0 && Done != Clean) {
        Step &last = History.back();
        Record &p = last.Edits.back();
        if (last.Kind == merge && last.Edits.size() == 1) {
            if (merge == TypingRun && edit.Removed == 0 && position == p.Position + int(p.Inserted.size())) {
                p.Inserted += r.Inserted;  // typed: no line ends or codes of a file
                merged = true;
            } else if (merge == BackspaceRun && edit.Added == 0 && p.Inserted.isEmpty() &&
                       position + edit.Removed == p.Position) {
                p.Position = position;
                if (r.More || p.More) {
                    std::vector<textstore::LineEnd> ends = FullEnds(r.Info().RemovedEnds, r.Removed);
                    const std::vector<textstore::LineEnd> after = FullEnds(p.Info().RemovedEnds, p.Removed);
                    ends.insert(ends.end(), after.begin(), after.end());
                    RecordExtra &m = p.Change();
                    for (OtherCode &c : m.RemovedCodes) c.Offset += int(r.Removed.size());
                    m.RemovedCodes.insert(m.RemovedCodes.begin(), r.Info().RemovedCodes.begin(), r.Info().RemovedCodes.end());
                    m.RemovedEnds = std::move(ends);
                }
                p.Removed = r.Removed + p.Removed;
                merged = true;
            } else if (merge == DeleteRun && edit.Added == 0 && p.Inserted.isEmpty() && position == p.Position) {
                if (r.More || p.More) {
                    std::vector<textstore::LineEnd> ends = FullEnds(p.Info().RemovedEnds, p.Removed);
                    const std::vector<textstore::LineEnd> after = FullEnds(r.Info().RemovedEnds, r.Removed);
                    ends.insert(ends.end(), after.begin(), after.end());
                    RecordExtra &m = p.Change();
                    for (const OtherCode &c : r.Info().RemovedCodes) m.RemovedCodes.push_back({c.Offset + int(p.Removed.size()), c.Code});
                    m.RemovedEnds = std::move(ends);
                }
                p.Removed += r.Removed;
                merged = true;
            }
            if (merged) {
                last.AnchorAfter = last.CaretAfter = caretAfter;
            }
        }
    }
    if (!merged) {
        Step s;
        s.Edits = std::move(batch);
        s.AnchorBefore = anchorBefore;
        s.CaretBefore = caretBefore;
        s.AnchorAfter = s.CaretAfter = caretAfter;
        s.Kind = merge;
        Push(std::move(s));
    }
    Mergeable = merge != NoMerge;
    Announce({edit}, &r, nullptr);
    Announce(wasUndo, wasRedo, wasModified);
    return true;
}

bool TTextStore::ReplaceMany(std::vector<Replacement> replacements, int anchorBefore, int caretBefore, int anchorAfter,
                             int caretAfter) {
    if (replacements.empty()) return true;
    if (BeforeChange) BeforeChange(std::min(Total, replacements.back().Position + std::max(replacements.back().Removed, 0)));
    std::vector<Record> batch;
    batch.reserve(replacements.size());
    TEditList edits;
    edits.reserve(replacements.size());
    int last = -1;
    QString lastRemoved;
    qint64 length = Total;
    for (Replacement &x : replacements) {
        const int position = Snap(x.Position);
        const int end = Snap(std::clamp(position + std::max(x.Removed, 0), position, Total));
        if (position < last) continue;  // overlapping: left out
        Record r;
        r.Position = position;
        r.Inserted = Normalised(x.Text, nullptr);
        if (r.Inserted == x.Text) r.Inserted = x.Text;  // one shared copy for every equal replacement
        Capture(*this, position, end - position, r);
        // Equal removed texts (the same match again) share one copy too.
        if (r.Removed == lastRemoved)
            r.Removed = lastRemoved;
        else
            lastRemoved = r.Removed;
        last = end;
        if (r.Removed.isEmpty() && r.Inserted.isEmpty()) continue;
        length += r.Inserted.size() - r.Removed.size();
        if (length > kMaxLength) return false;
        edits.push_back({position, int(r.Removed.size()), int(r.Inserted.size())});
        batch.push_back(std::move(r));
    }
    std::vector<Replacement>().swap(replacements);  // their memory back before the text is built anew
    if (batch.empty()) return true;
    const bool wasUndo = CanUndo(), wasRedo = CanRedo(), wasModified = IsModified();
    // Where memory runs out half way, the replacements made so far are the step.
    const size_t applied = Apply(batch);
    if (applied == 0) throw std::bad_alloc();
    const bool partial = applied < batch.size();
    batch.resize(applied);
    edits.resize(applied);
    // The selection after: as before, moved along by the edits.
    auto moved = [&](int p) { return MovedBy(edits, p); };
    Step s;
    s.Edits = std::move(batch);
    s.AnchorBefore = anchorBefore;
    s.CaretBefore = caretBefore;
    s.AnchorAfter = anchorAfter >= 0 && !partial ? anchorAfter : moved(anchorBefore);
    s.CaretAfter = caretAfter >= 0 && !partial ? caretAfter : moved(caretBefore);
    Push(std::move(s));
    Mergeable = false;
    Announce(edits, History.back().Edits.data(), nullptr);
    Announce(wasUndo, wasRedo, wasModified);
    if (partial) throw std::bad_alloc();
    return true;
}

void TTextStore::Push(Step step) {
    History.erase(History.begin() + Done, History.end());
    if (Clean > Done) Clean = -1;
    History.push_back(std::move(step));
    Done = int(History.size());
}

bool TTextStore::Undo(int &anchor, int &caret) { return Travel(false, anchor, caret); }

bool TTextStore::Redo(int &anchor, int &caret) { return Travel(true, anchor, caret); }

bool TTextStore::Travel(bool redo, int &anchor, int &caret) {
    if (redo ? !CanRedo() : !CanUndo()) return false;
    const bool wasUndo = CanUndo(), wasRedo = CanRedo(), wasModified = IsModified();
    Step &s = History[size_t(redo ? Done : Done - 1)];
    if (BeforeChange && !s.Edits.empty()) {
        // The end of the last change, in the text as it stands.
        int shift = 0;
        for (size_t i = 0; i + 1 < s.Edits.size(); ++i)
            shift += int(s.Edits[i].Inserted.size()) - int(s.Edits[i].Removed.size());
        const Record &r = s.Edits.back();
        BeforeChange(std::min(Total, redo ? r.Position + int(r.Removed.size()) : r.Position + shift + int(r.Inserted.size())));
    }
    // Undo: each record's inserted text goes back to its removed text, at its
    // position in the text after the batch.
    std::vector<Record> batch;
    batch.reserve(s.Edits.size());
    TEditList edits;
    edits.reserve(s.Edits.size());
    int shift = 0;
    for (const Record &r : s.Edits) {
        Record x;
        if (redo) {
            x = r;
        } else {
            x.Position = r.Position + shift;
            x.Removed = r.Inserted;
            x.Inserted = r.Removed;
            if (r.More) {
                RecordExtra &m = x.Change();
                m.RemovedEnds = r.More->InsertedEnds;
                m.InsertedEnds = r.More->RemovedEnds;
                m.RemovedCodes = r.More->InsertedCodes;
                m.InsertedCodes = r.More->RemovedCodes;
            }
        }
        shift += int(r.Inserted.size()) - int(r.Removed.size());
        edits.push_back({x.Position, int(x.Removed.size()), int(x.Inserted.size())});
        batch.push_back(std::move(x));
    }
    const size_t applied = Apply(batch);
    if (applied == 0) throw std::bad_alloc();
    const bool partial = applied < batch.size();
    if (partial) {
        // Memory ran out half way: the step is cut in two where it did, the
        // part made (undone or redone) and the part still to make.
        SplitStep(redo ? Done : Done - 1, applied, redo);
        batch.resize(applied);
        edits.resize(applied);
    }
    const Step &made = History[size_t(redo ? Done : Done - 1)];
    if (redo) {
        ++Done;
        anchor = made.AnchorAfter;
        caret = made.CaretAfter;
    } else {
        if (!partial) --Done;
        anchor = made.AnchorBefore;
        caret = made.CaretBefore;
    }
    anchor = Snap(anchor);
    caret = Snap(caret);
    Mergeable = false;
    Announce(edits, batch.data(), nullptr);
    Announce(wasUndo, wasRedo, wasModified);
    if (partial) throw std::bad_alloc();
    return true;
}

void TTextStore::SplitStep(int index, size_t made, bool redo) {
    Step &s = History[size_t(index)];
    Step second;
    second.Kind = s.Kind;
    second.Edits.assign(std::make_move_iterator(s.Edits.begin() + std::ptrdiff_t(made)),
                        std::make_move_iterator(s.Edits.end()));
    s.Edits.resize(made);
    Step first = std::move(s);
    // The records of the second part come after those of the first: in the
    // text with the first part made they lie further by its change of length.
    int shift = 0;
    for (const Record &r : first.Edits) shift += int(r.Inserted.size()) - int(r.Removed.size());
    TEditList firstEdits;
    for (const Record &r : first.Edits) firstEdits.push_back({r.Position, int(r.Removed.size()), int(r.Inserted.size())});
    if (redo) {
        // Made: the first part; to make: the second, after it.
        for (Record &r : second.Edits) r.Position += shift;
        second.AnchorAfter = first.AnchorAfter;
        second.CaretAfter = first.CaretAfter;
        first.AnchorAfter = second.AnchorBefore = MovedBy(firstEdits, first.AnchorBefore);
        first.CaretAfter = second.CaretBefore = MovedBy(firstEdits, first.CaretBefore);
        History[size_t(index)] = std::move(first);
        History.insert(History.begin() + index + 1, std::move(second));
    } else {
        // Undone: the first part (before the second in the text, so its
        // positions stand); still done: the second, now a step of its own
        // made first.
        second.AnchorBefore = first.AnchorBefore;
        second.CaretBefore = first.CaretBefore;
        second.AnchorAfter = second.CaretAfter = first.AnchorBefore;
        first.AnchorBefore = first.CaretBefore = first.AnchorBefore;
        History[size_t(index)] = std::move(second);
        History.insert(History.begin() + index + 1, std::move(first));
    }
    if (Clean > index) ++Clean;
}

void TTextStore::ClearHistory() {
    const bool wasUndo = CanUndo(), wasRedo = CanRedo(), wasModified = IsModified();
    History.clear();
    Done = Clean = 0;
    Mergeable = false;
    Announce(wasUndo, wasRedo, wasModified);
}

void TTextStore::SetModified(bool modified) {
    const bool was = IsModified();
    if (modified) {
        if (Clean == Done) Clean = -1;
    } else {
        Clean = Done;
        Mergeable = false;
    }
    if (was != IsModified()) emit ModificationChanged(IsModified());
}

void TTextStore::Announce(bool wasUndo, bool wasRedo, bool wasModified) {
    if (wasUndo != CanUndo()) emit UndoAvailable(CanUndo());
    if (wasRedo != CanRedo()) emit RedoAvailable(CanRedo());
    if (wasModified != IsModified()) emit ModificationChanged(IsModified());
}
