#include "textpos.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cstring>

namespace textpos {

int BlockStart(const QTextBlock &block) { return block.position() + block.blockNumber(); }

QTextBlock BlockAt(const QTextDocument *doc, int position) {
    // The last block b with BlockStart(b) <= position: T positions grow with
    // the block number, so a binary search over the numbers finds it.
    int lo = 0, hi = doc->blockCount() - 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (doc->findBlockByNumber(mid).position() + mid <= position)
            lo = mid;
        else
            hi = mid - 1;
    }
    return doc->findBlockByNumber(lo);
}

int ToDoc(const QTextDocument *doc, int position) {
    position = std::clamp(position, 0, TextLength(doc));
    const QTextBlock b = BlockAt(doc, position);
    const int offset = position - BlockStart(b);
    return b.position() + std::min(offset, b.length() - 1);
}

int FromDoc(const QTextDocument *doc, int docPosition) {
    docPosition = std::clamp(docPosition, 0, doc->characterCount() - 1);
    return docPosition + doc->findBlock(docPosition).blockNumber();
}

Mapper::Mapper(const QTextDocument *doc) : Doc(doc) { SetBlock(doc->begin()); }

void Mapper::SetBlock(const QTextBlock &block) {
    Block = block;
    TStart = BlockStart(block);
    DocStart = block.position();
    Length = block.length();
}

void Mapper::Seek(int position) {
    // Forward by a few blocks, keeping the positions up to date without asking
    // the document; a search for anything further or behind.
    if (position >= TStart) {
        for (int step = 0; step < 16; ++step) {
            if (position < TStart + Length + 1) return;  // text, CR or LF of Block
            const QTextBlock next = Block.next();
            if (!next.isValid()) return;
            TStart += Length + 1;
            DocStart += Length;
            Block = next;
            Length = Block.length();
        }
        if (position < TStart + Length + 1) return;
    }
    SetBlock(BlockAt(Doc, position));
}

int Mapper::CharToDoc(int position) {
    Seek(position);
    return DocStart + std::min(position - TStart, Length - 1);
}

void Mapper::RangeToDoc(int start, int length, int &docFirst, int &docEnd) {
    docFirst = CharToDoc(start);
    if (length <= 0) {
        docEnd = docFirst;
        return;
    }
    const int last = start + length - 1;
    docEnd = CharToDoc(last) + 1;
    // A range that ends at a CR leaves its LF, and so the separator, out.
    if (last - TStart == Length - 1 && Block.next().isValid()) docEnd = std::max(docFirst, docEnd - 1);
}

}  // namespace textpos

int TextLength(const QTextDocument *doc) { return doc->characterCount() - 1 + doc->blockCount() - 1; }

int TextLength(const QPlainTextEdit *control) { return TextLength(control->document()); }

QString TextSlice(const QPlainTextEdit *control, int start, int length) {
    const QTextDocument *doc = control->document();
    const int total = TextLength(doc);
    // The part of [start, start + length) that lies in T.
    const int end = int(std::clamp<qint64>(qint64(start) + std::max(length, 0), 0, total));
    start = std::clamp(start, 0, end);
    if (start == 0 && end == total) {
        // The whole text: one copy of the document's characters, each block
        // separator (U+2029) made a CR LF.
        const QString raw = doc->toRawText();
        QString out(total, Qt::Uninitialized);
        QChar *o = out.data();
        const QChar *const end = o + total;
        const char16_t *from = reinterpret_cast<const char16_t *>(raw.utf16());
        const char16_t *const rawEnd = from + raw.size();
        while (from < rawEnd && o < end) {
            // A line's characters in one copy, then its separator as CR LF.
            const char16_t *sep = std::find(from, rawEnd, char16_t(QChar::ParagraphSeparator));
            const qsizetype n = std::min<qsizetype>(sep - from, end - o);
            std::memcpy(static_cast<void *>(o), from, size_t(n) * sizeof(QChar));
            o += n;
            from = sep + 1;
            if (sep < rawEnd && o < end) *o++ = QLatin1Char('\r');
            if (sep < rawEnd && o < end) *o++ = QLatin1Char('\n');
        }
        out.truncate(o - out.data());
        return out;
    }
    QString out;
    out.reserve(end - start);
    QTextBlock b = textpos::BlockAt(doc, start);
    int bStart = textpos::BlockStart(b);
    int pos = start;
    while (pos < end && b.isValid()) {
        const int textLen = b.length() - 1;
        const QString text = b.text();
        const int from = pos - bStart;
        if (from < textLen) {
            const int n = std::min(textLen - from, end - pos);
            out.append(QStringView(text).mid(from, n));
            pos += n;
        }
        // The line break: CR at bStart + textLen, LF after it.
        if (pos < end && pos == bStart + textLen && b.next().isValid()) {
            out.append(QLatin1Char('\r'));
            ++pos;
        }
        if (pos < end && pos == bStart + textLen + 1 && b.next().isValid()) {
            out.append(QLatin1Char('\n'));
            ++pos;
        }
        bStart += textLen + 2;
        b = b.next();
    }
    return out;
}

int SelStart(const QPlainTextEdit *control) {
    return textpos::FromDoc(control->document(), control->textCursor().selectionStart());
}

int SelLength(const QPlainTextEdit *control) {
    const QTextCursor c = control->textCursor();
    const QTextDocument *doc = control->document();
    return textpos::FromDoc(doc, c.selectionEnd()) - textpos::FromDoc(doc, c.selectionStart());
}

void SetSelection(QPlainTextEdit *control, int start, int length) {
    QTextDocument *doc = control->document();
    const int total = TextLength(doc);
    start = std::clamp(start, 0, total);
    length = std::clamp(length, 0, total - start);
    int first = 0, end = 0;
    if (start == total) {
        first = end = doc->characterCount() - 1;
    } else {
        textpos::Mapper m(doc);
        m.RangeToDoc(start, length, first, end);
    }
    QTextCursor c(doc);
    c.setPosition(first);
    if (end != first) c.setPosition(end, QTextCursor::KeepAnchor);
    control->setTextCursor(c);
}
