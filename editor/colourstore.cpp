#include "colourstore.h"

#include <QTimer>

#include "colourrules.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
constexpr int kChunk = 4096;  // codes in a chunk; an edit may grow one to twice this
std::uint64_t Pattern(TColourChunks::Code code) { return std::uint64_t(code & 3) * 0x5555555555555555ull; }
size_t Words(int count) { return size_t(count + 31) / 32; }
// The bits below code `at` of its word.
std::uint64_t Below(int at) { return (at & 31) ? (std::uint64_t(1) << ((at & 31) * 2)) - 1 : 0; }
}  // namespace

TColourChunks::Chunk TColourChunks::Pack(const Code *codes, int count) {
    Chunk c;
    c.Count = count;
    c.Bits.assign(Words(count), 0);
    for (int i = 0; i < count; ++i) c.Bits[size_t(i) >> 5] |= std::uint64_t(codes[i] & 3) << ((i & 31) * 2);
    return c;
}

void TColourChunks::Chunk::Open(int at, int n) {
    if (n <= 0) return;
    const int shift = 2 * n;
    Count += n;
    Bits.resize(Words(Count), 0);
    const size_t first = size_t(at) >> 5;
    // From the top down: each word takes its own bits moved up and the top
    // bits of the word below.
    for (size_t w = Bits.size() - 1; w > first; --w) Bits[w] = (Bits[w] << shift) | (Bits[w - 1] >> (64 - shift));
    const std::uint64_t low = Below(at);
    Bits[first] = (Bits[first] & low) | ((Bits[first] & ~low) << shift);
}

void TColourChunks::Chunk::Close(int at, int n) {
    if (n <= 0) return;
    const int shift = 2 * n;
    const size_t first = size_t(at) >> 5;
    const std::uint64_t low = Below(at);
    // From the bottom up: each word takes its own bits moved down and the low
    // bits of the word above.
    const size_t words = Bits.size();
    const std::uint64_t above = first + 1 < words ? Bits[first + 1] << (64 - shift) : 0;
    Bits[first] = (Bits[first] & low) | (((Bits[first] & ~low) >> shift) & ~low) | (above & ~low);
    for (size_t w = first + 1; w < words; ++w)
        Bits[w] = (Bits[w] >> shift) | (w + 1 < words ? Bits[w + 1] << (64 - shift) : 0);
    Count -= n;
    Bits.resize(Words(Count));
}

std::vector<TColourChunks::Code> TColourChunks::Unpack(const Chunk &chunk) {
    std::vector<Code> codes(size_t(chunk.Count));
    for (int i = 0; i < chunk.Count; ++i) codes[size_t(i)] = chunk.Get(i);
    return codes;
}

void TColourChunks::Reset(int size, Code code) {
    Chunks.clear();
    Hint = 0;
    Total = std::max(size, 0);
    AllZero = code == 0;
    std::vector<int> counts;
    for (int pos = 0; pos < Total || Chunks.empty(); pos += kChunk) {
        Chunk c;
        c.Count = std::min(kChunk, Total - pos);
        c.Bits.assign(Words(c.Count), Pattern(code));
        Chunks.push_back(std::move(c));
        counts.push_back(Chunks.back().Count);
    }
    Starts.Reset(counts);
}

int TColourChunks::Find(int position) const {
    // The last chunk starting at or before position; most look-ups land in
    // the chunk of the one before or in the next one.
    const int n = int(Chunks.size());
    const int from = std::min(Hint, n - 1);
    for (int k = from; k < n && k <= from + 1; ++k) {
        if (Starts.Start(k) > position) break;
        if (k + 1 == n || position < Starts.Start(k + 1)) return Hint = k;
    }
    return Hint = Starts.PartOf(position);
}

TColourChunks::Code TColourChunks::At(int position) const {
    if (position < 0 || position >= Total) return 0;
    const int k = Find(position);
    return Chunks[size_t(k)].Get(position - Starts.Start(k));
}

void TColourChunks::Fill(int first, int end, Code code) {
    first = std::max(first, 0);
    end = std::min(end, Total);
    if (first >= end) return;
    AllZero = AllZero && code == 0;
    int k = Find(first);
    while (first < end) {
        Chunk &c = Chunks[size_t(k)];
        const int base = Starts.Start(k);
        int a = first - base;
        const int b = std::min(end, base + c.Count) - base;
        for (; a < b && (a & 31); ++a) c.Set(a, code);
        for (; b - a >= 32; a += 32) c.Bits[size_t(a) >> 5] = Pattern(code);  // whole words
        for (; a < b; ++a) c.Set(a, code);
        first = base + b;
        ++k;
    }
}

void TColourChunks::Replace(int k, const std::vector<Code> &codes) {
    const int n = int(codes.size());
    if (n <= 2 * kChunk) {
        Chunks[size_t(k)] = Pack(codes.data(), n);
        Starts.Replace(k, 1, {n});
        return;
    }
    std::vector<Chunk> pieces;
    std::vector<int> counts;
    for (int pos = 0; pos < n; pos += kChunk) {
        pieces.push_back(Pack(codes.data() + pos, std::min(kChunk, n - pos)));
        counts.push_back(pieces.back().Count);
    }
    Chunks[size_t(k)] = std::move(pieces.front());
    Chunks.insert(Chunks.begin() + k + 1, std::make_move_iterator(pieces.begin() + 1), std::make_move_iterator(pieces.end()));
    Starts.Replace(k, 1, counts);
}

void TColourChunks::JoinSmall(int k) {
    const int n = int(Chunks.size());
    if (n < 2 || k < 0 || k >= n || Chunks[size_t(k)].Count >= kChunk / 4) return;
    // With the smaller neighbour, as one chunk (at most twice the size).
    const int other = k == 0 ? 1 : k + 1 == n ? k - 1 : Chunks[size_t(k - 1)].Count <= Chunks[size_t(k + 1)].Count ? k - 1 : k + 1;
    const int a = std::min(k, other);
    std::vector<Code> codes = Unpack(Chunks[size_t(a)]);
    const std::vector<Code> more = Unpack(Chunks[size_t(a + 1)]);
    codes.insert(codes.end(), more.begin(), more.end());
    Chunks[size_t(a)] = Pack(codes.data(), int(codes.size()));
    Chunks.erase(Chunks.begin() + a + 1);
    Starts.Replace(a, 2, {int(codes.size())});
    Hint = 0;
}

void TColourChunks::Insert(int position, int count, Code code) {
    if (count <= 0) return;
    AllZero = AllZero && code == 0;
    position = std::clamp(position, 0, Total);
    const int k = Find(position);
    Chunk &c = Chunks[size_t(k)];
    const int at = position - Starts.Start(k);
    Total += count;
    if (count < 32 && c.Count + count <= 2 * kChunk) {
        // A few codes (a keystroke's): in place.
        c.Open(at, count);
        for (int i = at; i < at + count; ++i) c.Set(i, code);
        Starts.Replace(k, 1, {c.Count});
        return;
    }
    std::vector<Code> codes = Unpack(c);
    codes.insert(codes.begin() + at, size_t(count), code);
    Replace(k, codes);
}

void TColourChunks::Erase(int position, int count) {
    position = std::max(position, 0);
    count = std::min(count, Total - position);
    if (count <= 0) return;
    const int from = Find(position);
    int k = from;
    int left = count;
    std::vector<int> counts;
    while (left > 0) {
        Chunk &c = Chunks[size_t(k)];
        const int offset = position - Starts.Start(k);
        const int n = std::min(left, c.Count - offset);
        if (n == c.Count) {
            c = Chunk();
        } else if (n > 0 && n < 32) {
            c.Close(offset, n);
        } else if (n > 0) {
            std::vector<Code> codes = Unpack(c);
            codes.erase(codes.begin() + offset, codes.begin() + offset + n);
            c = Pack(codes.data(), int(codes.size()));
        }
        counts.push_back(c.Count);
        left -= n;
        ++k;
        if (left > 0) position = Starts.Start(k);  // the next chunk, from its start
    }
    Total -= count;
    // Empty chunks go, but one always stays.
    std::vector<int> kept;
    std::vector<Chunk> keep;
    for (int i = from; i < k; ++i)
        if (Chunks[size_t(i)].Count > 0 || (kept.empty() && i + 1 == k && int(Chunks.size()) == k - from)) {
            kept.push_back(Chunks[size_t(i)].Count);
            keep.push_back(std::move(Chunks[size_t(i)]));
        }
    Chunks.erase(Chunks.begin() + from, Chunks.begin() + k);
    Chunks.insert(Chunks.begin() + from, std::make_move_iterator(keep.begin()), std::make_move_iterator(keep.end()));
    Starts.Replace(from, k - from, kept);
    Hint = 0;
    JoinSmall(std::min(from, int(Chunks.size()) - 1));
}

void TColourChunks::Apply(const TEditList &edits) {
    if (edits.empty()) return;
    if (edits.size() <= 8) {
        for (size_t i = edits.size(); i-- > 0;) {
            const TEdit &e = edits[i];
            Erase(e.Position, e.Removed);
            Code inherited = 0;
            if (e.Position > 0)
                inherited = At(e.Position - 1);
            else if (Total > 0)
                inherited = At(0);
            Insert(e.Position, e.Added, inherited);
        }
        return;
    }
    // One pass over all the codes: the old ones copied, the new ones taking
    // the code written before them; packed a chunk at a time as they come,
    // and each old chunk let go once it has been read.
    std::vector<Chunk> chunks;
    std::vector<int> counts;
    std::vector<Code> run;
    run.reserve(2 * kChunk);
    Code last = 0;
    bool any = false;
    auto put = [&](Code code, int count) {
        while (count > 0) {
            const int n = std::min(count, kChunk - int(run.size()));
            run.insert(run.end(), size_t(n), code);
            count -= n;
            if (int(run.size()) == kChunk) {
                chunks.push_back(Pack(run.data(), kChunk));
                counts.push_back(kChunk);
                run.clear();
            }
        }
        last = code;
        any = true;
    };
    int at = 0;
    int k = 0;  // the old chunk being read
    auto copyCodes = [&](int until) {
        until = std::min(until, Total);
        while (at < until) {
            Chunk &c = Chunks[size_t(k)];
            const int base = Starts.Start(k);
            if (at == base && base + c.Count <= until && c.Count > 0 &&
                (run.empty() || int(run.size()) >= kChunk / 4)) {
                // A whole chunk that no edit touches moves over as it is
                // (after the codes gathered before it, as a chunk of their own).
                if (!run.empty()) {
                    chunks.push_back(Pack(run.data(), int(run.size())));
                    counts.push_back(int(run.size()));
                    run.clear();
                }
                last = c.Get(c.Count - 1);
                any = true;
                at += c.Count;
                counts.push_back(c.Count);
                chunks.push_back(std::move(c));
                if (k + 1 < int(Chunks.size())) ++k;
                continue;
            }
            if (at == base && base + c.Count <= until && c.Count > 0 && int(run.size()) + c.Count <= 2 * kChunk) {
                // A few codes left over before a whole chunk: the two become
                // one chunk, so that the chunks after it can move over as they are.
                const size_t was = run.size();
                run.resize(was + size_t(c.Count));
                for (int i = 0; i < c.Count; ++i) run[was + size_t(i)] = c.Get(i);
                last = run.back();
                any = true;
                at += c.Count;
                chunks.push_back(Pack(run.data(), int(run.size())));
                counts.push_back(int(run.size()));
                run.clear();
                std::vector<std::uint64_t>().swap(c.Bits);
                if (k + 1 < int(Chunks.size())) ++k;
                continue;
            }
            const int stop = std::min(until, base + c.Count);
            int runStart = at;
            Code runCode = c.Get(at - base);
            const std::uint64_t *bits = c.Bits.data();
            for (int p = at + 1; p < stop;) {
                const int i = p - base;
                if (!(i & 31) && stop - p >= 32 && bits[size_t(i) >> 5] == Pattern(runCode)) {
                    p += 32;  // a whole word of the run's code
                    continue;
                }
                const Code code = c.Get(i);
                if (code != runCode) {
                    put(runCode, p - runStart);
                    runStart = p;
                    runCode = code;
                }
                ++p;
            }
            put(runCode, stop - runStart);
            at = stop;
            if (at == base + c.Count && k + 1 < int(Chunks.size())) {
                std::vector<std::uint64_t>().swap(c.Bits);
                ++k;
            }
        }
    };
    auto skip = [&](int to) {
        at = std::max(at, to);
        while (k + 1 < int(Chunks.size()) && Starts.Start(k + 1) <= at) {
            std::vector<std::uint64_t>().swap(Chunks[size_t(k)].Bits);
            ++k;
        }
    };
    for (const TEdit &e : edits) {
        copyCodes(e.Position);
        Code inherited = 0;
        if (any)
            inherited = last;
        else if (e.Position + e.Removed < Total)
            inherited = At(e.Position + e.Removed);
        if (e.Added > 0) put(inherited, e.Added);
        skip(e.Position + e.Removed);
    }
    copyCodes(Total);
    int written = 0;
    for (int c : counts) written += c;
    if (!run.empty() || chunks.empty()) {
        chunks.push_back(Pack(run.data(), int(run.size())));
        counts.push_back(int(run.size()));
        written += int(run.size());
    }
    const bool zero = AllZero;
    Chunks = std::move(chunks);
    Starts.Reset(counts);
    Total = written;
    Hint = 0;
    AllZero = zero;
    if (Chunks.size() > 1) JoinSmall(int(Chunks.size()) - 1);
}

TColourStore::TColourStore(TTextStore *text) : QObject(text), Store(text) {
    setObjectName(QStringLiteral("qv_colours"));
    Chunks.Reset(text->Length(), Default);
    connect(text, &TTextStore::Edited, this, &TColourStore::FollowEdits);
    // The text before an edit has its colours first, as it would have had
    // them all along.
    text->BeforeChange = [this](int until) { CatchUp(until); };
}

void TColourStore::ColourLater(int sliceChars) {
    SliceChars = sliceChars;
    Pending = Store->Length() > 0 ? 0 : -1;
    if (Pending >= 0 && !IdleQueued) {
        // After the window has shown the text.
        IdleQueued = true;
        QTimer::singleShot(50, this, &TColourStore::IdleSlice);
    }
}

void TColourStore::CatchUp(int position) {
    if (Pending < 0 || position < Pending) return;
    const int from = Pending;
    Pending = -1;  // (a recolouring inside does not come back here)
    int changedFirst = -1, changedEnd = -1;
    auto fill = [&](const colouring::Run &r) {
        Fill(r.start, r.start + r.length, r.colour == colouring::GreenRun ? Green : Blue);
        if (changedFirst < 0) changedFirst = r.start;
        changedEnd = std::max(changedEnd, r.start + r.length);
    };
    const int next = colouring::ColourSlice(*Store, from + 1, std::max(position + 1, from + 1), fill) - 1;
    if (changedFirst >= 0) Notify(changedFirst, changedEnd);
    Pending = next >= Store->Length() ? -1 : next;
}

void TColourStore::IdleSlice() {
    IdleQueued = false;
    if (Pending < 0) return;
    CatchUp(Pending + std::max(SliceChars, 1));
    if (Pending >= 0) {
        IdleQueued = true;
        QTimer::singleShot(0, this, &TColourStore::IdleSlice);
    }
}

TColourStore *TColourStore::Find(const TTextStore *text) {
    return text ? text->findChild<TColourStore *>(QStringLiteral("qv_colours"), Qt::FindDirectChildrenOnly) : nullptr;
}

TColourStore *TColourStore::Of(TTextStore *text) {
    if (!text) return nullptr;
    if (TColourStore *s = Find(text)) return s;
    return new TColourStore(text);
}

TColourChunks::Code TColourStore::At(int position) const {
    if (position >= 0 && position + 1 < Chunks.Size() && Store->At(position).unicode() == u'\r') ++position;
    return Chunks.At(position);
}

void TColourStore::Fill(int first, int end, TColourChunks::Code code) {
    if (!Scanned.Writing && Scanned.First >= 0 && end > Scanned.First && first <= Scanned.Last) Scanned.Drop();
    Chunks.Fill(first, end, code);
}

void TColourStore::FollowLine(const TEditList &edits) {
    TLineScan &l = Scanned;
    if (l.First < 0) return;
    int shift = 0;
    bool inside = false;
    for (const TEdit &e : edits) {
        const int at = e.Position + shift;  // in the text as the edits before it left it
        const int delta = e.Added - e.Removed;
        const int lineEnd = l.LineEnd;
        if (at + e.Removed <= l.First && !(at == l.First && l.First == l.LineStart)) {
            // Before the line: everything moves along.
            l.First += delta;
            l.Last += delta;
            l.LineStart += delta;
            l.LineEnd += delta;
            if (l.EditFrom >= 0) {
                l.EditFrom += delta;
                l.EditTo += delta;
            }
            for (auto &c : l.Comments) {
                c.first += delta;
                c.second += delta;
            }
        } else if (at > lineEnd) {
            break;
        } else if (!inside && at >= l.LineStart && at + e.Removed <= lineEnd &&
                   !Store->Slice(at, e.Added).contains(QLatin1Char('\n'))) {
            // Inside the line, no line break put in or taken out.
            inside = true;
            const int gone = at + e.Removed;
            l.Last += delta;
            l.LineEnd += delta;
            // The runs are in order: those that end by the edit stay.
            auto c = std::partition_point(l.Comments.begin(), l.Comments.end(),
                                          [&](const std::pair<int, int> &r) { return r.second <= at; });
            for (; c != l.Comments.end() && c->first < gone; ++c) {
                c->first = std::min(c->first, at);
                c->second = c->second >= gone ? c->second + delta : at;
            }
            for (; c != l.Comments.end(); ++c) {
                c->first += delta;
                c->second += delta;
            }
            if (l.EditFrom < 0) {
                l.EditFrom = at;
                l.EditTo = at + e.Added;
            } else {
                if (l.EditTo >= gone) l.EditTo += delta;
                else if (l.EditTo > at) l.EditTo = at;
                if (l.EditFrom > gone) l.EditFrom += delta;
                else if (l.EditFrom > at) l.EditFrom = at;
                l.EditFrom = std::min(l.EditFrom, at);
                l.EditTo = std::max(l.EditTo, at + e.Added);
            }
        } else {
            l.Drop();
            return;
        }
        shift += delta;
    }
}

QColor TColourStore::ColourOf(TColourChunks::Code code) const {
    switch (code) {
    case Green: return QColor(0, 128, 0);
    case Blue: return QColor(0, 0, 255);
    case Mark: return QColor::fromRgb(MarkRgb);
    default: return QColor();
    }
}

TColourChunks::Code TColourStore::CodeOf(const QColor &colour) {
    if (!colour.isValid() || colour.rgb() == QColor(0, 0, 0).rgb()) return Default;
    for (auto c : {Green, Blue})
        if (ColourOf(c).rgb() == colour.rgb()) return c;
    MarkRgb = colour.rgb();
    return Mark;
}

void TColourStore::FollowEdits(const TEditList &edits) {
    if (edits.empty()) return;
    InChange = true;
    const int size = Store->Length();
    const TEdit &first = edits.front();
    int delta = 0;
    for (const TEdit &e : edits) delta += e.Added - e.Removed;
    const TEdit &last = edits.back();
    const int span = last.Position + last.Removed - first.Position;
    if (edits.size() == 1 && first.Position == 0 && first.Removed == Chunks.Size() && first.Added == size) {
        // The whole text was replaced: nothing of the old colours stays.
        Chunks.Reset(size, Default);
        Scanned.Drop();
        Pending = -1;
        emit TextChanged(0, first.Removed, size);
        emit ColoursChanged(0, -1);
    } else {
        Chunks.Apply(edits);
        FollowLine(edits);
        // The edits lie before the part that waits for its colours.
        if (Pending >= 0) Pending = std::clamp(Pending + delta, 0, size);
        emit TextChanged(first.Position, span, span + delta);
        emit ColoursChanged(first.Position, first.Position + span + delta);
    }
    InChange = false;
    emit EditFollowed();
}
