#include "sourcetext.h"

#include <QObject>
#include <cstring>

#include "qverror.h"

namespace sourcetext {

namespace {

// The file's codes, kept with the store it was loaded into.
class CodesHolder : public QObject {
public:
    CodesHolder(QObject *store, const sjis::CodeChoice &codes) : QObject(store), Codes(codes) {
        setObjectName(Name());
    }
    static QString Name() { return QStringLiteral("qv-sjis-codes"); }
    sjis::CodeChoice Codes;
};

const CodesHolder *HolderOf(const QObject *store) {
    return store ? store->findChild<const CodesHolder *>(CodesHolder::Name(), Qt::FindDirectChildrenOnly) : nullptr;
}

// The line ends of text (as decoded from the file), counted into counts.
void EndsOf(const QString &text, std::vector<LineEnd> &ends, size_t counts[3]) {
    const QChar *p = text.constData();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c == u'\r') {
            if (i + 1 < n && p[i + 1].unicode() == u'\n') {
                ends.push_back(CrLf);
                ++i;
            } else {
                ends.push_back(Cr);
            }
        } else if (c == u'\n') {
            ends.push_back(Lf);
        } else {
            continue;
        }
        ++counts[ends.back()];
    }
}

LineEnd Common(const size_t counts[3]) {
    LineEnd common = CrLf;
    if (counts[Lf] > counts[common]) common = Lf;
    if (counts[Cr] > counts[common]) common = Cr;
    return common;
}

}  // namespace

Decoded Decode(const QByteArray &bytes) {
    Decoded d;
    d.Ends.Codes = sjis::chooseCodes(bytes);
    d.Text = sjis::decode(bytes);
    size_t counts[3] = {0, 0, 0};
    EndsOf(d.Text, d.Ends, counts);
    d.Common = Common(counts);
    return d;
}

qint64 TextLength(QByteArrayView bytes) {
    const char *p = bytes.data();
    const qsizetype n = bytes.size();
    if (n == 0) return 0;  // (an empty view may have no data at all)
    // Each lone LF and lone CR gains a character.
    qint64 lone = 0;
    for (const char *at = p, *end = p + n; (at = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at))));
         ++at)
        lone += at == p || at[-1] != '\r';
    for (const char *at = p, *end = p + n; (at = static_cast<const char *>(std::memchr(at, '\r', size_t(end - at))));
         ++at)
        lone += at + 1 == end || at[1] != '\n';
    bool ascii = true;
    for (qsizetype i = 0; i < n && ascii; ++i) ascii = static_cast<unsigned char>(p[i]) < 0x80;
    if (ascii) return n + lone;
    qint64 characters = lone;
    for (qsizetype at = 0; at < n;) {
        // Pieces that end after an LF byte decode as they do in the whole.
        qsizetype end = std::min(n, at + (qsizetype(1) << 20));
        if (end < n) {
            const char *lf = static_cast<const char *>(std::memchr(p + end, '\n', size_t(n - end)));
            end = lf ? qsizetype(lf - p) + 1 : n;
        }
        characters += sjis::decode(QByteArrayView(p + at, end - at)).size();
        at = end;
    }
    return characters;
}

void CheckLength(const QString &path, qint64 characters) {
    if (characters <= textstore::TText::kMaxLength) return;
    throw EQvError(QStringLiteral("ファイル %1 は大きすぎて開けません（開けるのは改行を 2 文字と数えて %2 文字までです）")
                       .arg(path)
                       .arg(textstore::TText::kMaxLength));
}

void CheckLength(const QString &path, QByteArrayView bytes) {
    // No byte makes more than two characters.
    if (bytes.size() <= textstore::TText::kMaxLength / 2) return;
    CheckLength(path, TextLength(bytes));
}

LineEnd Load(TTextStore *store, const QByteArray &bytes) {
    // The file's code of each character with more than one is chosen from
    // its uses, counted on the way; every use goes into the store first and
    // those of the chosen codes leave it at the end.
    QHash<quint32, qsizetype> uses;
    size_t counts[3] = {0, 0, 0};
    // Pieces of kPiece bytes, each running on to just after the next LF byte
    // (a piece with no LF after it takes the rest of the file): no Shift-JIS
    // character holds that byte, so each piece decodes as it would in the
    // whole, and no piece ends between a CR and its LF. The store takes a
    // piece no longer than its largest chunk as one chunk, without a copy.
    constexpr qsizetype kPiece = 4000;
    qsizetype at = 0;
    const qsizetype n = bytes.size();
    sjis::OtherCodes others;
    QString decoded;
    sjis::Breaks breaks;
    store->Load([&](QString &text, std::vector<LineEnd> &ends, textstore::OtherCodes &other, std::vector<int> &starts) {
        if (at >= n) return false;
        qsizetype end = std::min(n, at + kPiece);
        if (end < n) {
            const char *lf = static_cast<const char *>(memchr(bytes.constData() + end, '\n', size_t(n - end)));
            end = lf ? qsizetype(lf - bytes.constData()) + 1 : n;
        }
        decoded = sjis::decodeEvery(QByteArrayView(bytes.constData() + at, end - at), &others, &breaks);
        at = end;
        for (const sjis::CodeAt &x : others) ++uses[quint32(decoded.at(x.Index).unicode()) << 16 | x.Code];
        ends.clear();
        other.clear();
        if (breaks.AllPairs) {
            // CR LF lines: T form already, and where each line starts is known.
            ends.assign(breaks.AfterLf.size(), CrLf);
            counts[CrLf] += breaks.AfterLf.size();
            starts = std::move(breaks.AfterLf);
            text = std::move(decoded);
            for (const sjis::CodeAt &x : others) other.push_back({int(x.Index), x.Code});
            return true;
        }
        if (!breaks.LoneCr) {
            // LF lines (and CR LF ones): a CR goes in before each lone LF, in
            // one copy, the line starts and other codes moved along.
            const QChar *d = decoded.constData();
            const qsizetype size = decoded.size();
            qsizetype lone = 0;
            for (int after : breaks.AfterLf) lone += after < 2 || d[after - 2].unicode() != u'\r';
            text = QString(size + lone, Qt::Uninitialized);
            QChar *out = text.data();
            qsizetype from = 0, shift = 0;
            size_t o = 0;
            starts.reserve(breaks.AfterLf.size());
            ends.reserve(breaks.AfterLf.size());
            for (int after : breaks.AfterLf) {
                const bool pair = after >= 2 && d[after - 2].unicode() == u'\r';
                const qsizetype copy = pair ? after - from : after - 1 - from;
                for (; o < others.size() && others[o].Index < from + copy; ++o)
                    other.push_back({int(others[o].Index + shift), others[o].Code});
                std::memcpy(static_cast<void *>(out + from + shift), d + from, size_t(copy) * sizeof(QChar));
                if (!pair) {
                    out[after - 1 + shift] = QLatin1Char('\r');
                    out[after + shift] = QLatin1Char('\n');
                    ++shift;
                }
                ends.push_back(pair ? CrLf : Lf);
                ++counts[ends.back()];
                starts.push_back(int(after + shift));
                from = after;
            }
            for (; o < others.size(); ++o) other.push_back({int(others[o].Index + shift), others[o].Code});
            std::memcpy(static_cast<void *>(out + from + shift), d + from, size_t(size - from) * sizeof(QChar));
            return true;
        }
        // Lone CRs as well: each line end made a CR LF, the line end kept
        // beside it, the other codes moved along.
        const QChar *p = decoded.constData();
        const qsizetype size = decoded.size();
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t c = p[i].unicode();
            if (c > u'\r' || (c != u'\r' && c != u'\n')) continue;
            if (c == u'\r' && i + 1 < size && p[i + 1].unicode() == u'\n') {
                ends.push_back(CrLf);
                ++i;
            } else {
                ends.push_back(c == u'\r' ? Cr : Lf);
            }
            ++counts[ends.back()];
        }
        text = QString();
        text.reserve(size + qsizetype(ends.size()));
        size_t o = 0;
        qsizetype from = 0;
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t c = p[i].unicode();
            if (c != u'\r' && c != u'\n') continue;
            for (; o < others.size() && others[o].Index < i; ++o)
                other.push_back({int(text.size() + others[o].Index - from), others[o].Code});
            text.append(p + from, i - from);
            text += QLatin1String("\r\n");
            if (c == u'\r' && i + 1 < size && p[i + 1].unicode() == u'\n') ++i;
            from = i + 1;
        }
        for (; o < others.size(); ++o) other.push_back({int(text.size() + others[o].Index - from), others[o].Code});
        text.append(p + from, size - from);
        return true;
    });
    const sjis::CodeChoice codes = sjis::chooseFromUses(uses);
    if (!uses.isEmpty())
        store->DropCodes([&](QChar ch, quint16 code) {
            const quint16 chosen = codes.code(ch.unicode());
            return code == (chosen ? chosen : sjis::usualCode(ch.unicode()));
        });
    delete HolderOf(store);
    if (!codes.isEmpty()) new CodesHolder(store, codes);
    return Common(counts);
}

sjis::CodeChoice Codes(const TTextStore *store) {
    const CodesHolder *h = HolderOf(store);
    return h ? h->Codes : sjis::CodeChoice();
}

Snapshot Take(const TTextStore *store, LineEnd fallback) {
    Snapshot s;
    s.Text = store->Snapshot();
    s.Codes = Codes(store);
    s.Fallback = fallback;
    return s;
}

namespace {

// The bytes made straight from the pieces, each in one go, into one buffer: no
// copy of the whole text. False for a text that holds a character Shift-JIS
// cannot hold or an escaped byte from the file; the whole text's encode tells
// why.
// write, when given, takes the bytes made so far each time they reach block
// bytes (and the rest at the end); else they all go to out.
bool EncodeByPieces(const Snapshot &snapshot, QByteArray &out, qsizetype block = 0,
                    const std::function<bool(QByteArrayView)> *write = nullptr) {
    QByteArray bytes;
    const qint64 length = snapshot.Text.Length();
    // Room for a block and the largest piece (two bytes a character, a line
    // end's at most), or for the whole text.
    bytes.reserve(write ? block + 2 * 65536 : qsizetype(length + length / 8 + 16));
    bool ok = true;
    sjis::OtherCodes others;
    std::vector<QByteArrayView> breaks;
    const QByteArrayView bytesOf[] = {QByteArrayView("\r\n"), QByteArrayView("\n"), QByteArrayView("\r")};
    static_assert(CrLf == 0 && Lf == 1 && Cr == 2, "line ends index bytesOf");
    const QByteArrayView fallback = bytesOf[snapshot.Fallback == Lf ? 1 : snapshot.Fallback == Cr ? 2 : 0];
    const sjis::CodeChoice *choice = snapshot.Codes.isEmpty() ? nullptr : &snapshot.Codes;
    snapshot.Text.Chunks([&](QStringView piece, const LineEnd *ends, const textstore::OtherCodes &codes) {
        if (!ok) return;
        // The piece's breaks, each as its line end's bytes.
        const size_t count = size_t(piece.count(QLatin1Char('\n')));
        breaks.resize(count);
        for (size_t e = 0; e < count; ++e) {
            const LineEnd end = ends[e];
            breaks[e] = end == CrLf || end == Lf || end == Cr ? bytesOf[end] : fallback;
        }
        others.clear();
        for (const textstore::OtherCode &c : codes) others.push_back({c.Offset, c.Code});
        ok = sjis::encodeAppend(piece, bytes, choice, others.empty() ? nullptr : &others, breaks.data());
        if (ok && write && bytes.size() >= block) {
            ok = (*write)(bytes);
            bytes.resize(0);  // the room stays for the next block
        }
    });
    if (ok && write && !bytes.isEmpty()) ok = (*write)(bytes);
    if (ok && !write) out = std::move(bytes);
    return ok;
}

}  // namespace

bool Encode(const Snapshot &snapshot, QByteArray &out, QString *error) {
    if (EncodeByPieces(snapshot, out)) return true;
    // The file's text: each CR LF of T written as its own line end.
    QString text;
    text.reserve(snapshot.Text.Length());
    sjis::OtherCodes others;
    snapshot.Text.Chunks([&](QStringView piece, const LineEnd *ends, const textstore::OtherCodes &codes) {
        const QChar *p = piece.data();
        const qsizetype n = piece.size();
        qsizetype from = 0;
        size_t e = 0;
        size_t c = 0;
        // The piece's characters [from, to) go to the end of text, their other codes along.
        auto append = [&](qsizetype to) {
            for (; c < codes.size() && codes[c].Offset < to; ++c)
                if (codes[c].Offset >= from) others.push_back({text.size() + codes[c].Offset - from, codes[c].Code});
            text.append(p + from, to - from);
        };
        for (qsizetype i = 0; i < n; ++i) {
            if (p[i].unicode() != u'\n') continue;
            // T[i - 1] is the CR of this break.
            append(i - 1);
            LineEnd end = ends[e++];
            if (end == textstore::Typed) end = snapshot.Fallback;
            switch (end) {
            case Lf: text += QLatin1Char('\n'); break;
            case Cr: text += QLatin1Char('\r'); break;
            default: text += QLatin1String("\r\n"); break;
            }
            from = i + 1;
        }
        append(n);
    });
    sjis::EncodeError err;
    if (sjis::encode(text, out, &err, &snapshot.Codes, &others)) return true;
    if (error) {
        // The line of the character: count the line ends before it.
        int line = 1;
        const QChar *p = text.constData();
        for (qsizetype i = 0; i < err.index; ++i) {
            if (p[i] == QLatin1Char('\n') || (p[i] == QLatin1Char('\r') && (i + 1 >= text.size() || p[i + 1] != QLatin1Char('\n'))))
                ++line;
        }
        if (err.joins) {
            const QString what = err.ch <= 0xFFFF && sjis::isEscapedByte(QChar(char16_t(err.ch)))
                                     ? QStringLiteral("不正なバイト 0x") + QString::number(err.ch - 0xDC00, 16).toUpper()
                                     : QStringLiteral("文字 ") + sjis::describeChar(err.ch);
            *error = QStringLiteral("%1 行目の%2 は隣の文字と組になり、読み直すと別の文字になるため保存できません")
                         .arg(line)
                         .arg(what);
        } else {
            *error = QStringLiteral("%1 行目の文字 %2 は Shift-JIS で保存できません").arg(line).arg(sjis::describeChar(err.ch));
        }
    }
    return false;
}

bool EncodeBlocks(const Snapshot &snapshot, qsizetype block, const std::function<bool(QByteArrayView)> &write) {
    QByteArray none;
    return EncodeByPieces(snapshot, none, std::max<qsizetype>(block, 1), &write);
}

bool Encode(const TTextStore *store, LineEnd fallback, QByteArray &out, QString *error) {
    return Encode(Take(store, fallback), out, error);
}

}  // namespace sourcetext
