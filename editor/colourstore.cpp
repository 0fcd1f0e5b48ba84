#include "colourstore.h"

#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <climits>
#include <cstring>

namespace {
constexpr int kChunk = 4096;  // a chunk is split when it grows past twice this
}

void TColourChunks::Reset(int size, Code code) {
    Chunks.clear();
    Starts.clear();
    Total = std::max(size, 0);
    for (int pos = 0; pos < Total || Chunks.empty(); pos += kChunk) {
        Chunks.emplace_back(size_t(std::min(kChunk, Total - pos)), code);
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
    return Chunks[size_t(k)][size_t(position - Starts[size_t(k)])];
}

void TColourChunks::Renumber(int from) {
    int pos = from > 0 ? Starts[size_t(from - 1)] + int(Chunks[size_t(from - 1)].size()) : 0;
    for (size_t k = size_t(from); k < Chunks.size(); ++k) {
        Starts[k] = pos;
        pos += int(Chunks[k].size());
    }
}

void TColourChunks::Fill(int first, int end, Code code) {
    first = std::max(first, 0);
    end = std::min(end, Total);
    if (first >= end) return;
    int k = Find(first);
    while (first < end) {
        std::vector<Code> &c = Chunks[size_t(k)];
        const int base = Starts[size_t(k)];
        const int stop = std::min(end, base + int(c.size()));
        std::memset(c.data() + (first - base), code, size_t(stop - first));
        first = stop;
        ++k;
    }
}

void TColourChunks::Split(int chunk) {
    std::vector<Code> &c = Chunks[size_t(chunk)];
    if (int(c.size()) <= 2 * kChunk) return;
    std::vector<std::vector<Code>> pieces;
    for (size_t pos = kChunk; pos < c.size(); pos += kChunk)
        pieces.emplace_back(c.begin() + std::ptrdiff_t(pos), c.begin() + std::ptrdiff_t(std::min(c.size(), pos + kChunk)));
    c.resize(kChunk);
    c.shrink_to_fit();
    Chunks.insert(Chunks.begin() + chunk + 1, std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    Starts.insert(Starts.begin() + chunk + 1, pieces.size(), 0);
}

void TColourChunks::Insert(int position, int count, Code code) {
    if (count <= 0) return;
    position = std::clamp(position, 0, Total);
    const int k = Find(position);
    std::vector<Code> &c = Chunks[size_t(k)];
    c.insert(c.begin() + (position - Starts[size_t(k)]), size_t(count), code);
    Total += count;
    Split(k);
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
        std::vector<Code> &c = Chunks[size_t(k)];
        const int offset = position - Starts[size_t(k)];
        const int n = std::min(left, int(c.size()) - offset);
        c.erase(c.begin() + offset, c.begin() + offset + n);
        left -= n;
        ++k;
        if (left > 0) position = Starts[size_t(k)];  // the next chunk, from its start
    }
    Total -= count;
    // Empty chunks go, but one always stays.
    for (int i = k - 1; i >= from && Chunks.size() > 1; --i) {
        if (!Chunks[size_t(i)].empty()) continue;
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
    case Default: return QColor();
    case Black: return QColor(0, 0, 0);
    case Green: return QColor(0, 128, 0);
    case Blue: return QColor(0, 0, 255);
    default: break;
    }
    const size_t i = size_t(code) - 4;
    return i < Extra.size() ? QColor::fromRgb(Extra[i]) : QColor();
}

TColourChunks::Code TColourStore::CodeOf(const QColor &colour) {
    if (!colour.isValid()) return Default;
    for (int c = Black; c <= Blue; ++c)
        if (ColourOf(TColourChunks::Code(c)).rgb() == colour.rgb()) return TColourChunks::Code(c);
    const QRgb rgb = colour.rgb();
    for (size_t i = 0; i < Extra.size(); ++i)
        if (Extra[i] == rgb) return TColourChunks::Code(i + 4);
    if (Extra.size() >= 250) return Default;
    Extra.push_back(rgb);
    return TColourChunks::Code(Extra.size() + 3);
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
    InChange = true;
    if (added - removed != size - old || position < 0 || position + removed > old || position + added > size) {
        // The whole text was replaced (Qt reports that with counts that do not
        // add up): nothing of the old colours stays.
        Chunks.Reset(size, Default);
        emit TextChanged(0, old, size);
        emit ColoursChanged(0, -1);
    } else if (removed == added && !TextChangedIn(position, position + added)) {
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
