#include "sourcetext.h"

#include <QTextBlock>
#include <QTextDocument>

#include "sjis.h"

namespace sourcetext {

namespace {

// The file's codes, kept with the document it was loaded into.
class CodesHolder : public QObject {
public:
    CodesHolder(QObject *doc, const sjis::CodeChoice &codes) : QObject(doc), Codes(codes) {
        setObjectName(Name());
    }
    static QString Name() { return QStringLiteral("qv-sjis-codes"); }
    sjis::CodeChoice Codes;
};

const CodesHolder *HolderOf(const QTextDocument *doc) {
    for (const QObject *o : doc->children())
        if (o->objectName() == CodesHolder::Name()) return static_cast<const CodesHolder *>(o);
    return nullptr;
}

}  // namespace

Decoded Decode(const QByteArray &bytes) {
    Decoded d;
    d.Ends.Codes = sjis::chooseCodes(bytes);
    d.Text = sjis::decode(bytes, d.Ends.Codes);
    size_t counts[3] = {0, 0, 0};
    const QChar *p = d.Text.constData();
    const qsizetype n = d.Text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c == u'\r') {
            if (i + 1 < n && p[i + 1].unicode() == u'\n') {
                d.Ends.push_back(CrLf);
                ++i;
            } else {
                d.Ends.push_back(Cr);
            }
        } else if (c == u'\n') {
            d.Ends.push_back(Lf);
        } else {
            continue;
        }
        ++counts[d.Ends.back()];
    }
    // Ties go to CR LF, then LF.
    d.Common = CrLf;
    if (counts[Lf] > counts[d.Common]) d.Common = Lf;
    if (counts[Cr] > counts[d.Common]) d.Common = Cr;
    return d;
}

void SetLineEnds(QTextDocument *doc, const LineEnds &ends) {
    size_t i = 0;
    for (QTextBlock b = doc->begin(); b.isValid() && i < ends.size(); b = b.next(), ++i) b.setUserState(ends[i]);
    delete HolderOf(doc);
    if (!ends.Codes.isEmpty()) new CodesHolder(doc, ends.Codes);
}

sjis::CodeChoice Codes(const QTextDocument *doc) {
    const CodesHolder *h = HolderOf(doc);
    return h ? h->Codes : sjis::CodeChoice();
}

bool Encode(const QTextDocument *doc, LineEnd fallback, QByteArray &out, QString *error) {
    QString text;
    text.reserve(doc->characterCount() + doc->blockCount());
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        text += b.text();
        if (!b.next().isValid()) break;
        const int state = b.userState();
        const LineEnd end = (state >= CrLf && state <= Cr) ? LineEnd(state) : fallback;
        switch (end) {
        case CrLf: text += QLatin1String("\r\n"); break;
        case Lf: text += QLatin1Char('\n'); break;
        case Cr: text += QLatin1Char('\r'); break;
        }
    }
    sjis::EncodeError err;
    const sjis::CodeChoice codes = Codes(doc);
    if (sjis::encode(text, out, &err, &codes)) return true;
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

}  // namespace sourcetext

namespace sourcetext {

Snapshot Take(const QTextDocument *doc, LineEnd fallback) {
    Snapshot s;
    s.Raw = doc->toRawText();
    s.Ends.reserve(size_t(doc->blockCount()));
    for (QTextBlock b = doc->begin(); b.isValid() && b.next().isValid(); b = b.next()) {
        const int state = b.userState();
        s.Ends.push_back((state >= CrLf && state <= Cr) ? LineEnd(state) : fallback);
    }
    s.Codes = Codes(doc);
    return s;
}

bool Encode(const Snapshot &snapshot, QByteArray &out, QString *error) {
    QString text;
    text.reserve(snapshot.Raw.size() + qsizetype(snapshot.Ends.size()));
    const QChar *p = snapshot.Raw.constData();
    const qsizetype n = snapshot.Raw.size();
    size_t line = 0;
    qsizetype from = 0;
    bool last = false;
    for (qsizetype i = 0; i < n && !last; ++i) {
        if (p[i] != QChar::ParagraphSeparator) continue;
        text.append(p + from, i - from);
        from = i + 1;
        last = line >= snapshot.Ends.size();  // the last block's separator ends the text
        if (last) break;
        switch (snapshot.Ends[line++]) {
        case CrLf: text += QLatin1String("\r\n"); break;
        case Lf: text += QLatin1Char('\n'); break;
        case Cr: text += QLatin1Char('\r'); break;
        }
    }
    if (!last) text.append(p + from, n - from);
    sjis::EncodeError err;
    if (sjis::encode(text, out, &err, &snapshot.Codes)) return true;
    if (error) *error = QStringLiteral("Shift-JIS で保存できない文字 %1 があります").arg(sjis::describeChar(err.ch));
    return false;
}

}  // namespace sourcetext
