#include "sjis.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace sjis {
namespace {

constexpr const char *kCodec = "CP932";

inline bool isLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
inline bool isTrail(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
inline bool isSingle(unsigned char b) { return b <= 0x7F || (b >= 0xA1 && b <= 0xDF); }

QString decodeRaw(QByteArrayView bytes, bool *error) {
    QStringDecoder dec(kCodec, QStringDecoder::Flag::Stateless);
    QString s = dec.decode(bytes);
    *error = dec.hasError();
    return s;
}

QByteArray encodeRaw(QStringView text, bool *error) {
    QStringEncoder enc(kCodec, QStringEncoder::Flag::Stateless);
    QByteArray b = enc.encode(text);
    *error = enc.hasError();
    return b;
}

// Escapes the non-ASCII bytes; an ASCII byte (the second byte of an invalid
// double-byte code can be one) stays itself, as escaped bytes are only ever
// U+DC80..U+DCFF and encode() copies ASCII through.
void escapeBytes(QByteArrayView bytes, QString &out) {
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(b < 0x80 ? QChar(char16_t(b)) : QChar(char16_t(0xDC00 + b)));
    }
}

// A run of structurally valid units [begin, end) with unit boundaries in `cuts`.
// Decoded in one call when it comes back byte for byte; otherwise halved at a
// unit boundary until the offending units are found and escaped.
void decodeUnits(QByteArrayView bytes, const std::vector<qsizetype> &cuts, size_t first, size_t last,
                 QString &out) {
    // units first..last-1; unit u spans cuts[u]..cuts[u+1]
    const qsizetype b = cuts[first], e = cuts[last];
    QByteArrayView part = bytes.sliced(b, e - b);
    bool derr = false, eerr = false;
    QString s = decodeRaw(part, &derr);
    if (!derr) {
        QByteArray back = encodeRaw(s, &eerr);
        if (!eerr && back == part) {
            out += s;
            return;
        }
    }
    if (last - first == 1) {
        escapeBytes(part, out);
        return;
    }
    const size_t mid = first + (last - first) / 2;
    decodeUnits(bytes, cuts, first, mid, out);
    decodeUnits(bytes, cuts, mid, last, out);
}

}  // namespace

QString decode(QByteArrayView bytes) {
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    std::vector<qsizetype> cuts;
    while (i < n) {
        // Plain ASCII needs no converter.
        qsizetype a = i;
        while (a < n && p[a] < 0x80) ++a;
        if (a > i) {
            out += QLatin1StringView(reinterpret_cast<const char *>(p + i), a - i);
            i = a;
            continue;
        }
        // A run of structurally valid multi-byte and katakana units.
        cuts.clear();
        qsizetype j = i;
        while (j < n) {
            unsigned char c = p[j];
            if (c < 0x80) break;
            if (isLead(c) && j + 1 < n && isTrail(p[j + 1])) {
                cuts.push_back(j);
                j += 2;
            } else if (isSingle(c)) {
                cuts.push_back(j);
                j += 1;
            } else {
                break;
            }
        }
        if (j > i) {
            cuts.push_back(j);
            decodeUnits(bytes, cuts, 0, cuts.size() - 1, out);
            i = j;
            continue;
        }
        // A byte that starts no valid unit.
        escapeBytes(bytes.sliced(i, 1), out);
        ++i;
    }
    return out;
}

bool encode(QStringView text, QByteArray &out, EncodeError *err) {
    QByteArray result;
    result.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        // ASCII and escaped bytes are copied directly.
        const char16_t u = text[i].unicode();
        if (u < 0x80) {
            result.append(char(u));
            ++i;
            continue;
        }
        if (u >= 0xDC80 && u <= 0xDCFF) {
            result.append(char(u - 0xDC00));
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < n) {
            const char16_t v = text[j].unicode();
            if (v < 0x80 || (v >= 0xDC80 && v <= 0xDCFF)) break;
            ++j;
        }
        QStringView part = text.sliced(i, j - i);
        bool eerr = false, derr = false;
        QByteArray bytes = encodeRaw(part, &eerr);
        bool ok = !eerr && decodeRaw(bytes, &derr) == part && !derr;
        if (!ok) {
            // Find the first character that does not survive on its own.
            qsizetype k = i;
            while (k < j) {
                qsizetype len = (text[k].isHighSurrogate() && k + 1 < j && text[k + 1].isLowSurrogate()) ? 2 : 1;
                QStringView one = text.sliced(k, len);
                bool e1 = false, d1 = false;
                QByteArray b1 = encodeRaw(one, &e1);
                if (e1 || decodeRaw(b1, &d1) != one || d1) {
                    if (err) {
                        err->index = k;
                        err->ch = len == 2 ? QChar::surrogateToUcs4(text[k], text[k + 1]) : text[k].unicode();
                    }
                    return false;
                }
                k += len;
            }
            // Every character survives alone but not together: encode one by one.
            bytes.clear();
            for (k = i; k < j;) {
                qsizetype len = (text[k].isHighSurrogate() && k + 1 < j && text[k + 1].isLowSurrogate()) ? 2 : 1;
                bool e1 = false;
                bytes += encodeRaw(text.sliced(k, len), &e1);
                k += len;
            }
        }
        result += bytes;
        i = j;
    }
    out = std::move(result);
    return true;
}

QByteArray encodeLossy(QStringView text) {
    QByteArray out;
    EncodeError e;
    if (encode(text, out, &e)) return out;
    QString copy = text.toString();
    while (!encode(copy, out, &e)) {
        copy.replace(e.index, e.ch > 0xFFFF ? 2 : 1, QLatin1Char('?'));
    }
    return out;
}

QString describeChar(char32_t ch) {
    QString code = QStringLiteral("U+%1").arg(uint(ch), 4, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("U+"), QLatin1String("U+"));
    char32_t one[1] = {ch};
    return QStringLiteral("%1 '%2'").arg(code, QString::fromUcs4(one, 1));
}

}  // namespace sjis
