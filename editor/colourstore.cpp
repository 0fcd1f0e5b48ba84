#include "colourstore.h"

#include <QTimer>

#include "colouring.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
constexpr int kChunk = 4096;  // codes in a chunk; an edit may grow one to twice this
std::uint8_t Pattern(TColourChunks::Code code) { return std::uint8_t((code & 3) * 0x55); }
}  // namespace

TColourChunks::Chunk TColourChunks::Pack(const Code *codes, int count) {
    Chunk c;
    c.Count = count;
    c.Bits.assign(size_t(count + 3) / 4, 0);
    for (int i = 0; i < count; ++i) c.Bits[size_t(i) >> 2] |= std::uint8_t((codes[i] & 3) << ((i & 3) * 2));
    return c;
}

std::vector<TColourChunks::Code> TColourChunks::Unpack(const Chunk &chunk) {
    std::vector<Code> codes(size_t(chunk.Count));
    for (int i = 0; i < chunk.Count; ++i) codes[size_t(i)] = chunk.Get(i);
    return codes;
}

void TColourChunks::Reset(int size, Code code) {
    Chunks.clear();
    Starts.clear();
    Hint = 0;
    Total = std::max(size, 0);
    AllZero = code == 0;
    for (int pos = 0; pos < Total || Chunks.empty(); pos += kChunk) {
        Chunk c;
        c.Count = std::min(kChunk, Total - pos);
        c.Bits.assign(size_t(c.Count + 3) / 4, Pattern(code));
        Chunks.push_back(std::move(c));
        Starts.push_back(pos);
    }
}

int TColourChunks::Find(int position) const {
    // The last chunk starting at or before position; most look-ups land in
    // the chunk of the one before or in the next one.
    const int n = int(Starts.size());
    const int from = std::min(Hint, n - 1);
    for (int k = from; k < n && k <= from + 1; ++k) {
        if (Starts[size_t(k)] > position) break;
        if (k + 1 == n || position < Starts[size_t(k) + 1]) return Hint = k;
    }
    const auto it = std::upper_bound(Starts.begin(), Starts.end(), position);
    return Hint = std::max(0, int(it - Starts.begin()) - 1);
}

TColourChunks::Code TColourChunks::At(int position) const {
    if (position < 0 || position >= Total) return 0;
    const int k = Find(position);
    return Chunks[size_t(k)].Get(position - Starts[size_t(k)]);
}

void TColourChunks::Renumber(int from) {
    from = std::max(from, 0);
    int pos = from > 0 ? Starts[size_t(from - 1)] + Chunks[size_t(from - 1)].Count : 0;
    for (size_t k = size_t(from); k < Chunks.size(); ++k) {
        Starts[k] = pos;
        pos += Chunks[k].Count;
    }
}

void TColourChunks::Fill(int first, int end, Code code) {
    first = std::max(first, 0);
    end = std::min(end, Total);
    if (first >= end) return;
    AllZero = AllZero && code == 0;
    int k = Find(first);
    while (first < end) {
        Chunk &c = Chunks[size_t(k)];
        const int base = Starts[size_t(k)];
        int a = first - base;
        const int b = std::min(end, base + c.Count) - base;
        for (; a < b && (a & 3); ++a) c.Set(a, code);
        if (b - a >= 4) {  // whole bytes
            std::memset(c.Bits.data() + (a >> 2), Pattern(code), size_t((b - a) >> 2));
            a += (b - a) & ~3;
        }
        for (; a < b; ++a) c.Set(a, code);
        first = base + b;
        ++k;
    }
}

void TColourChunks::Replace(int k, const std::vector<Code> &codes) {
    const int n = int(codes.size());
    if (n <= 2 * kChunk) {
        Chunks[size_t(k)] = Pack(codes.data(), n);
        return;
    }
    std::vector<Chunk> pieces;
    for (int pos = 0; pos < n; pos += kChunk) pieces.push_back(Pack(codes.data() + pos, std::min(kChunk, n - pos)));
    Chunks[size_t(k)] = std::move(pieces.front());
    Chunks.insert(Chunks.begin() + k + 1, std::make_move_iterator(pieces.begin() + 1), std::make_move_iterator(pieces.end()));
    Starts.insert(Starts.begin() + k + 1, pieces.size() - 1, 0);
}

void TColourChunks::Insert(int position, int count, Code code) {
    if (count <= 0) return;
    AllZero = AllZero && code == 0;
    position = std::clamp(position, 0, Total);
    const int k = Find(position);
    std::vector<Code> codes = Unpack(Chunks[size_t(k)]);
    codes.insert(codes.begin() + (position - Starts[size_t(k)]), size_t(count), code);
    Total += count;
    Replace(k, codes);
    Renumber(k + 1);
}

void TColourChunks::Erase(int position, int count) {
    position = std::max(position, 0);
    count = std::min(count, Total - position);
    if (count <= 0) return;
    int k = Find(position);
    const int from = k;
    int left = count;
    while (left > 0) {
        Chunk &c = Chunks[size_t(k)];
        const int offset = position - Starts[size_t(k)];
        const int n = std::min(left, c.Count - offset);
        if (n == c.Count) {
            c = Chunk();
        } else if (n > 0) {
            std::vector<Code> codes = Unpack(c);
            codes.erase(codes.begin() + offset, codes.begin() + offset + n);
            c = Pack(codes.data(), int(codes.size()));
        }
        left -= n;
        ++k;
        if (left > 0) position = Starts[size_t(k)];  // the next chunk, from its start
    }
    Total -= count;
    // Empty chunks go, but one always stays.
    for (int i = k - 1; i >= from && Chunks.size() > 1; --i) {
        if (Chunks[size_t(i)].Count > 0) continue;
        Chunks.erase(Chunks.begin() + i);
        Starts.erase(Starts.begin() + i);
    }
    Renumber(std::min(from, int(Chunks.size()) - 1));
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
    // the code written before them; packed a chunk at a time as they come.
    std::vector<Chunk> chunks;
    std::vector<int> starts;
    std::vector<Code> run;
    run.reserve(kChunk);
    int written = 0;
    Code last = 0;
    bool any = false;
    auto put = [&](Code code, int count) {
        while (count > 0) {
            const int n = std::min(count, kChunk - int(run.size()));
            run.insert(run.end(), size_t(n), code);
            count -= n;
            if (int(run.size()) == kChunk) {
                starts.push_back(written);
                chunks.push_back(Pack(run.data(), kChunk));
                written += kChunk;
                run.clear();
            }
        }
        last = code;
        any = true;
    };
    int at = 0;
    auto copy = [&](int until) {
        until = std::min(until, Total);
        if (at < until) Runs(at, until, [&](int a, int b, Code c) { put(c, b - a); });
        at = std::max(at, until);
    };
    for (const TEdit &e : edits) {
        copy(e.Position);
        Code inherited = 0;
        if (any)
            inherited = last;
        else if (e.Position + e.Removed < Total)
            inherited = At(e.Position + e.Removed);
        if (e.Added > 0) put(inherited, e.Added);
        at = std::max(at, e.Position + e.Removed);
    }
    copy(Total);
    if (!run.empty() || chunks.empty()) {
        starts.push_back(written);
        chunks.push_back(Pack(run.data(), int(run.size())));
        written += int(run.size());
    }
    const bool zero = AllZero;
    Chunks = std::move(chunks);
    Starts = std::move(starts);
    Total = written;
    Hint = 0;
    AllZero = zero;
}

TColourStore::TColourStore(TTextStore *text) : QObject(text), Store(text) {
    setObjectName(QStringLiteral("qv_colours"));
    Chunks.Reset(text->Length(), Default);
    connect(text, &TTextStore::Edited, this, &TColourStore::Edited);
    // The text before an edit has its colours first, as it would have had
    // them all along.
    text->BeforeChange = [this](int until) { CatchUp(until); };
}

void TColourStore::ColourLater() {
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
    const int next = colouring::ColourSlice(this, from + 1, std::max(position + 1, from + 1)) - 1;
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

void TColourStore::Fill(int first, int end, TColourChunks::Code code) { Chunks.Fill(first, end, code); }

QColor TColourStore::ColourOf(TColourChunks::Code code) const {
    switch (code) {
    case Green: return QColor(0, 128, 0);
    case Blue: return QColor(0, 0, 255);
    case Mark: return QColor::fromRgb(MarkColour);
    default: return QColor();
    }
}

TColourChunks::Code TColourStore::CodeOf(const QColor &colour) {
    if (!colour.isValid() || colour.rgb() == QColor(0, 0, 0).rgb()) return Default;
    for (auto c : {Green, Blue})
        if (ColourOf(c).rgb() == colour.rgb()) return c;
    MarkColour = colour.rgb();
    return Mark;
}

void TColourStore::Edited(const TEditList &edits) {
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
        Pending = -1;
        emit TextChanged(0, first.Removed, size);
        emit ColoursChanged(0, -1);
    } else {
        Chunks.Apply(edits);
        // The edits lie before the part that waits for its colours.
        if (Pending >= 0) Pending = std::clamp(Pending + delta, 0, size);
        emit TextChanged(first.Position, span, span + delta);
        emit ColoursChanged(first.Position, first.Position + span + delta);
    }
    InChange = false;
    emit ChangeHandled();
}
