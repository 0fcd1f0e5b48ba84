// The Shift-JIS codec: every valid code of code page 932 reads as its own
// character (checked against cp932.txt, a reference table made by
// make_cp932_table.py), everything else stays escaped bytes, every byte string
// comes back byte for byte, a document keeps the codes its file chose, and text
// that would not read back as itself is refused, never replaced.
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <random>

#include "../testfiles.h"
#include "childwin.h"
#include "editortest.h"
#include "sjis.h"
#include "sourcetext.h"
#include "../testmain.h"

namespace {

// The reference table: code -> character, and the usual code of a character.
struct Reference {
    QHash<quint16, char16_t> singles, doubles;
    QHash<char16_t, quint16> usual;
    QHash<char16_t, QList<quint16>> codesOf;
};

const Reference &Table() {
    static const Reference r = [] {
        Reference t;
        QFile f(QStringLiteral(QV_CP932_TABLE));
        if (!f.open(QIODevice::ReadOnly)) qFatal("cannot read %s", QV_CP932_TABLE);
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.isEmpty() || line.startsWith('#')) continue;
            const QList<QByteArray> w = line.split(' ');
            const auto code = quint16(w[0].toUInt(nullptr, 16));
            const auto ch = char16_t(w[1].mid(2).toUInt(nullptr, 16));
            (w[0].size() == 2 ? t.singles : t.doubles).insert(code, ch);
            t.usual.insert(ch, w.size() > 2 ? quint16(w[2].toUInt(nullptr, 16)) : code);
            t.codesOf[ch] << code;
        }
        return t;
    }();
    return r;
}

QString Str(std::initializer_list<QChar> chars) { return QString(chars.begin(), qsizetype(chars.size())); }

QChar Esc(unsigned char b) { return QChar(char16_t(0xDC00 + b)); }

bool Lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool Trail(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// What the bytes read as by the reference table: a lead byte and a trail byte
// are one unit, its character or both bytes escaped; any other byte is its
// character or escaped.
QString ReferenceDecode(const QByteArray &bytes) {
    const Reference &t = Table();
    QString s;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = uchar(bytes[i]);
        if (Lead(b) && i + 1 < bytes.size() && Trail(uchar(bytes[i + 1]))) {
            const auto c = uchar(bytes[++i]);
            const char16_t ch = t.doubles.value(quint16(b << 8 | c), 0);
            if (ch) s += QChar(ch);
            else s += Str({Esc(b), Esc(c)});
        } else {
            s += t.singles.contains(b) ? QChar(t.singles[b]) : Esc(b);
        }
    }
    return s;
}

QString Hex(const QString &s) {
    QStringList units;
    for (QChar c : s) units << QString::number(c.unicode(), 16);
    return units.join(u' ');
}

QByteArray Bytes(std::initializer_list<int> bytes) {
    QByteArray b;
    for (int x : bytes) b += char(x);
    return b;
}

QByteArray Code(quint16 code) { return code <= 0xFF ? Bytes({code}) : Bytes({code >> 8, code & 0xFF}); }

// Decode as a loaded file is, then encode with the file's codes.
QByteArray RoundTrip(const QByteArray &bytes) {
    const sjis::CodeChoice codes = sjis::chooseCodes(bytes);
    QByteArray back("<refused>");
    sjis::OtherCodes others;
    const QString text = sjis::decode(bytes, codes, &others);
    sjis::encode(text, back, nullptr, &codes, &others);
    return back;
}

using edtest::Failure;

}  // namespace

class TestSjis : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;

    TMDIChild *Loaded(const QByteArray &bytes, QString *path) {
        *path = Dir.filePath(QStringLiteral("f%1.c").arg(++Files));
        if (!qvtest::WriteFile(*path, bytes)) return nullptr;
        auto *w = new TMDIChild;
        w->LoadFile(*path);
        return w;
    }
    int Files = 0;

private slots:
    // Every single byte and every two-byte string reads as the reference table
    // says and comes back byte for byte; every character of the table is
    // written with its usual code.
    void wholeTable() {
        QCOMPARE(Table().singles.size() + Table().doubles.size(), 9795);
        int failures = 0;
        auto check = [&](const QByteArray &bytes) {
            const QString want = ReferenceDecode(bytes);
            sjis::OtherCodes others;
            const QString got = sjis::decode(bytes), loaded = sjis::decode(bytes, sjis::chooseCodes(bytes), &others);
            const QByteArray back = RoundTrip(bytes);
            if ((got != want || loaded != want || back != bytes) && ++failures < 6)
                qWarning("%s reads as %s, as a file %s, back %s", bytes.toHex(' ').constData(), qPrintable(Hex(got)),
                         qPrintable(Hex(loaded)), back.toHex(' ').constData());
        };
        for (int a = 0; a < 256; ++a) {
            check(QByteArray(1, char(a)));
            for (int b = 0; b < 256; ++b) check(Bytes({a, b}));
        }
        QCOMPARE(failures, 0);

        for (auto it = Table().usual.cbegin(); it != Table().usual.cend(); ++it) {
            QByteArray out;
            QVERIFY(sjis::encode(QString(QChar(it.key())), out));
            QCOMPARE(out.toHex(), Code(it.value()).toHex());
            QCOMPARE(sjis::usualCode(it.key()), it.value());
        }
    }

    // Random byte strings, valid and invalid mixed, read as the model says and
    // come back as they were.
    void randomBytes() {
        std::mt19937 rng(12);
        const QByteArray alphabet("\x81\x82\x87\x88\x9f\xe0\xea\xed\xee\xfa\xfc\x85\xf0"
                                  "\x40\x4a\x5c\x7e\x7f\x80\x9a\xa0\xa1\xdf\xfd\xff\r\n a\\");
        for (int n = 0; n < 3000; ++n) {
            QByteArray bytes;
            const int len = int(rng() % 14);
            for (int i = 0; i < len; ++i) bytes += alphabet[int(rng() % alphabet.size())];
            QCOMPARE(sjis::decode(bytes), ReferenceDecode(bytes));
            QCOMPARE(RoundTrip(bytes).toHex(' '), bytes.toHex(' '));
        }
    }

    // Files that mix codes of characters with more than one, and use two codes
    // for one character, load as characters and save back byte for byte, also
    // after edits elsewhere and an undo. Characters typed afterwards take the
    // document's code for them (the one used most often; a tie: the usual one,
    // then the lowest), or their usual code.
    void duplicateCodes() {
        QList<char16_t> multi;
        for (auto it = Table().codesOf.cbegin(); it != Table().codesOf.cend(); ++it)
            if (it.value().size() > 1) multi << it.key();
        std::sort(multi.begin(), multi.end());
        QCOMPARE(multi.size(), 396);

        std::mt19937 rng(7);
        for (int round = 0; round < 60; ++round) {
            // A few characters, each written with one or (every third round) several codes.
            QList<char16_t> pool;
            for (int k = 0; k < 5; ++k) pool << multi[int(rng() % multi.size())];
            QHash<char16_t, QList<quint16>> used;
            QByteArray bytes = "/* \x93\xfa\x96\x7b */\r\n";
            for (int line = 0; line < 6; ++line) {
                for (int k = 0; k < 4; ++k) {
                    const char16_t ch = pool[int(rng() % pool.size())];
                    const QList<quint16> &codes = Table().codesOf[ch];
                    quint16 code = used.contains(ch) && round % 3 ? used[ch].first() : codes[int(rng() % codes.size())];
                    used[ch] << code;
                    bytes += Code(code) + (rng() % 2 ? " x" : "");
                }
                bytes += line % 2 ? "\r\n" : "\n";
            }
            // The document's code of each character.
            QHash<char16_t, quint16> chosen;
            for (auto it = used.cbegin(); it != used.cend(); ++it) {
                QHash<quint16, int> count;
                for (quint16 c : it.value()) ++count[c];
                quint16 best = 0;
                for (auto c = count.cbegin(); c != count.cend(); ++c) {
                    const char16_t ch = it.key();
                    const int have = count.value(best);
                    if (c.value() > have || (c.value() == have && best != Table().usual[ch] &&
                                             (c.key() == Table().usual[ch] || c.key() < best)))
                        best = c.key();
                }
                chosen[it.key()] = best;
            }

            QString path;
            std::unique_ptr<TMDIChild> w(Loaded(bytes, &path));
            QVERIFY(w);
            const QString text = w->RichEdit1->toPlainText();
            // Every use reads as its character, whichever code it has.
            QString expected;
            for (qsizetype i = 0; i < bytes.size(); ++i) {
                const auto b = uchar(bytes[i]);
                if (Lead(b) && i + 1 < bytes.size()) {
                    expected += QChar(Table().doubles.value(quint16(b << 8 | uchar(bytes[i + 1]))));
                    ++i;
                } else if (b != '\r') {
                    expected += QChar(b);
                }
            }
            QCOMPARE(text, expected);
            for (QChar c : text) QVERIFY(!sjis::isEscapedByte(c));

            w->Save();
            QCOMPARE(qvtest::ReadFile(path).toHex(' '), bytes.toHex(' '));

            // Edits elsewhere: a comment typed at the start of a random line,
            // and a random stretch cut out and put back by undo.
            TRichEdit *e = w->RichEdit1;
            const int line = int(rng() % uint(e->Text()->LineCount()));
            qsizetype at = 0;
            for (int l = 0; l < line; ++l) at = bytes.indexOf('\n', at) + 1;
            SetSelection(e, e->Text()->LineStart(line), 0);
            e->insertPlainText(QStringLiteral("/*e*/"));
            bytes.insert(at, "/*e*/");
            const int from = int(rng() % uint(TextLength(e)));
            SetSelection(e, from, 1 + int(rng() % uint(TextLength(e) - from)));
            w->RichEdit1->cut();
            w->Undo();
            w->Save();
            QCOMPARE(qvtest::ReadFile(path).toHex(' '), bytes.toHex(' '));

            // Typed: one character the file holds, one it does not.
            const char16_t held = *std::min_element(pool.cbegin(), pool.cend());
            char16_t other = multi[int(rng() % multi.size())];
            while (chosen.contains(other)) other = multi[int(rng() % multi.size())];
            SetSelection(w->RichEdit1, TextLength(w->RichEdit1), 0);
            w->RichEdit1->insertPlainText(Str({QChar(held), QChar(other)}));
            w->Save();
            QCOMPARE(qvtest::ReadFile(path).toHex(' '), (bytes + Code(chosen[held]) + Code(Table().usual[other])).toHex(' '));
        }

        // A new document writes every character with its usual code.
        TMDIChild fresh;
        QString all;
        QByteArray usual;
        for (char16_t ch : multi) {
            all += QChar(ch);
            usual += Code(Table().usual[ch]);
        }
        fresh.show();
        for (QChar ch : std::as_const(all)) QTest::sendKeyEvent(QTest::Click, fresh.RichEdit1, Qt::Key_unknown, QString(ch), {});
        QCOMPARE(fresh.RichEdit1->toPlainText(), all);
        const QString path = Dir.filePath(QStringLiteral("new.c"));
        fresh.SaveAs(path);
        QCOMPARE(qvtest::ReadFile(path).toHex(' '), usual.toHex(' '));
    }

    // An edit that puts a kept invalid byte before bytes it would pair up with
    // is refused at saving, naming the line; the file stays as it was. Edits
    // that leave every byte reading as before save.
    void editNextToInvalidByte_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("from");     // the edit: remove [from, from + count), then type typed
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("line");     // the line named in the refusal, 0: saved
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("line break deleted") << QByteArray("x\x82\r\nabc") << 2 << 1 << QString() << 1 << QByteArray();
        QTest::newRow("on the second line") << QByteArray("ok\r\nx\x82\nabc") << 5 << 1 << QString() << 2 << QByteArray();
        QTest::newRow("kanji typed after") << QByteArray("\xe0\r\n") << 1 << 0 << QStringLiteral("日") << 1 << QByteArray();
        QTest::newRow("character of the other code deleted") << QByteArray("\xfa\x4a\x87\x54\x87\x54") << 0 << 1 << QString()
                                                             << 0 << QByteArray("\x87\x54\x87\x54");
        QTest::newRow("kept code beside its character") << QByteArray("\xfa\x4a\x87\x54\x87\x54") << 2 << 1 << QString()
                                                        << 0 << QByteArray("\xfa\x4a\x87\x54");
        QTest::newRow("lone second half") << QByteArray("\x85\x40z") << 0 << 1 << QString() << 1 << QByteArray();
        QTest::newRow("blank typed after") << QByteArray("x\x82\r\nabc") << 2 << 1 << QStringLiteral(" ") << 0
                                           << QByteArray("x\x82 abc");
        QTest::newRow("before the byte") << QByteArray("x\x82\r\nabc") << 0 << 1 << QStringLiteral("y") << 0
                                         << QByteArray("y\x82\r\nabc");
        QTest::newRow("unused byte before text") << QByteArray("\xa0\r\nabc") << 1 << 1 << QString() << 0
                                                 << QByteArray("\xa0" "abc");
    }
    void editNextToInvalidByte() {
        QFETCH(QByteArray, file);
        QFETCH(int, from);
        QFETCH(int, count);
        QFETCH(QString, typed);
        QFETCH(int, line);
        QFETCH(QByteArray, saved);
        QString path;
        std::unique_ptr<TMDIChild> w(Loaded(file, &path));
        QVERIFY(w);
        // from and count count a line break as one character.
        const QString t = TextOf(w->RichEdit1);
        auto toT = [&](int d) {
            int i = 0;
            for (; i < t.size() && d > 0; ++i, --d)
                if (t[i] == QLatin1Char('\r') && i + 1 < t.size() && t[i + 1] == QLatin1Char('\n')) ++i;
            return i;
        };
        SetSelection(w->RichEdit1, toT(from), toT(from + count) - toT(from));
        w->RichEdit1->insertPlainText(typed);
        const QString error = Failure([&] { w->Save(); });
        if (line == 0) {
            QCOMPARE(error, QStringLiteral("<no error>"));
            QCOMPARE(qvtest::ReadFile(path).toHex(' '), saved.toHex(' '));
        } else {
            QVERIFY2(error.contains(QStringLiteral("%1 行目の不正なバイト 0x").arg(line)), qPrintable(error));
            QCOMPARE(qvtest::ReadFile(path), file);
            QVERIFY(w->Changed);
        }
    }

    // Text that Shift-JIS cannot hold is refused with the character and where it is.
    void refuses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");
        QTest::addColumn<uint>("ch");
        QTest::addColumn<bool>("joins");
        QTest::newRow("euro") << QStringLiteral("ab€cd") << 2 << 0x20ACu << false;
        QTest::newRow("emoji") << QStringLiteral("x\U0001F600") << 1 << 0x1F600u << false;
        QTest::newRow("after japanese") << QStringLiteral("日本한") << 2 << 0xD55Cu << false;
        QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) << 0 << 0xD800u << false;
        QTest::newRow("low surrogate below escapes") << QString(QChar(0xDC3F)) << 0 << 0xDC3Fu << false;
        QTest::newRow("escaped lead before ASCII") << Str({QChar(u'a'), Esc(0x82), QChar(u'a')}) << 1 << 0xDC82u << true;
        QTest::newRow("escaped lead before kanji") << Str({Esc(0xe0), QChar(u'日')}) << 0 << 0xDCE0u << true;
        QTest::newRow("escaped trail alone") << Str({QChar(u'a'), Esc(0x41)}) << 1 << 0xDC41u << true;
        QTest::newRow("escapes of a valid code") << Str({Esc(0x88), Esc(0x9f)}) << 0 << 0xDC88u << true;
    }
    void refuses() {
        QFETCH(QString, text);
        QFETCH(int, index);
        QFETCH(uint, ch);
        QFETCH(bool, joins);
        QByteArray out("untouched");
        sjis::EncodeError err;
        QVERIFY(!sjis::encode(text, out, &err));
        QCOMPARE(out, QByteArray("untouched"));
        QCOMPARE(int(err.index), index);
        QCOMPARE(uint(err.ch), ch);
        QCOMPARE(err.joins, joins);
        QVERIFY(!sjis::encodeLossy(text).isEmpty());
    }
};

QV_TEST_MAIN(TestSjis)
#include "tst_sjis.moc"
