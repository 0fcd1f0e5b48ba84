#include "colourstore.h"

#include <QTextBlock>
#include <QTextDocument>
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

TColourStore::TColourStore(QTextDocument *doc) : QObject(doc), Doc(doc) {
    setObjectName(QStringLiteral("qv_colours"));
    Chunks.Reset(doc->characterCount(), Default);
    connect(doc, &QTextDocument::contentsChange, this, &TColourStore::ContentsChange);
}

TColourStore *TColourStore::Find(const QTextDocument *doc) {
    return doc ? doc->findChild<TColourStore *>(QStringLiteral("qv_colours"), Qt::FindDirectChildrenOnly) : nullptr;
}

TColourStore *TColourStore::Of(QTextDocument *doc) {
    if (!doc) return nullptr;
    if (TColourStore *s = Find(doc)) return s;
    return new TColourStore(doc);
}

TColourChunks::Code TColourStore::At(int docPosition) const { return Chunks.At(docPosition); }

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

bool TColourStore::TextChangedIn(int first, int end) const {
    // Qt stamps a block with the document's revision whenever its characters
    // change; a format or layout change leaves the stamps alone.
    const int revision = Doc->revision();
    for (QTextBlock b = Doc->findBlock(first); b.isValid() && b.position() <= end; b = b.next())
        if (b.revision() == revision) return true;
    return false;
}

void TColourStore::ContentsChange(int position, int removed, int added) {
    const int size = Doc->characterCount();
    const int old = Chunks.Size();
    // An undo or a redo moves one step between the two histories. It may put
    // back characters of the same length without stamping any block (Qt gives
    // the blocks their old revisions back), so it counts as an edit by itself.
    const int undo = Doc->availableUndoSteps(), redo = Doc->availableRedoSteps();
    const bool historyStep = redo != LastRedo && qint64(undo - LastUndo) * (redo - LastRedo) < 0;
    LastUndo = undo;
    LastRedo = redo;
    InChange = true;
    if (added - removed != size - old || position < 0 || position + removed > old || position + added > size) {
        // The whole text was replaced (Qt reports that with counts that do not
        // add up): nothing of the old colours stays.
        Chunks.Reset(size, Default);
        emit TextChanged(0, old, size);
        emit ColoursChanged(0, -1);
    } else if (removed == added && !historyStep && !TextChangedIn(position, position + added)) {
        emit ColoursChanged(position, position + added);
    } else {
        Chunks.Erase(position, removed);
        TColourChunks::Code inherited = Default;
        if (position > 0)
            inherited = Chunks.At(position - 1);
        else if (Chunks.Size() > 1)
            inherited = Chunks.At(0);
        Chunks.Insert(position, added, inherited);
        emit TextChanged(position, removed, added);
        emit ColoursChanged(position, position + added);
    }
    InChange = false;
    emit ChangeHandled();
}
