// The Shift-JIS codec: every byte string comes back byte for byte, and text
// that Shift-JIS cannot hold is refused, never replaced.
#include <QTest>

#include "sjis.h"

class TestSjis : public QObject {
    Q_OBJECT

    static QByteArray Back(const QByteArray &bytes) {
        QByteArray out("<refused>");
        sjis::encode(sjis::decode(bytes), out);
        return out;
    }

private slots:
    void everySingleByte() {
        for (int b = 0; b < 256; ++b) {
            const QByteArray one(1, char(b));
            QCOMPARE(Back(one), one);
            const QString s = sjis::decode(one);
            QCOMPARE(s.size(), 1);
            if (b < 0x80) QCOMPARE(s[0].unicode(), char16_t(b));
        }
    }

    void everyByteAfterEveryByte() {
        QByteArray two(2, '\0');
        int mismatches = 0;
        for (int a = 0; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                two[0] = char(a);
                two[1] = char(b);
                if (Back(two) != two && ++mismatches < 5) qWarning("no round trip for %02X %02X", a, b);
            }
        }
        QCOMPARE(mismatches, 0);
    }

    void knownCharacters_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("kanji") << QByteArray("\x93\xfa\x96\x7b\x8c\xea") << QStringLiteral("日本語");
        QTest::newRow("hiragana") << QByteArray("\x82\xa0") << QStringLiteral("あ");
        QTest::newRow("half-width katakana") << QByteArray("\xb1\xb2") << QStringLiteral("ｱｲ");
        QTest::newRow("trail byte like backslash") << QByteArray("\x95\x5c") << QStringLiteral("表");
        QTest::newRow("yen sign position") << QByteArray("\\") << QStringLiteral("\\");
    }
    void knownCharacters() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(sjis::decode(bytes), text);
        QByteArray out;
        QVERIFY(sjis::encode(text, out));
        QCOMPARE(out, bytes);
    }

    void invalidBytesAreEscaped_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("lone lead at end") << QByteArray("a\x81") << QStringLiteral("a\xDC81");
        QTest::newRow("unused single") << QByteArray("\x80\xa0\xfd") << QStringLiteral("\xDC80\xDCA0\xDCFD");
        // An unassigned double-byte code with an ASCII second byte: the lead is
        // escaped, the ASCII byte stays readable.
        QTest::newRow("lead before ascii") << QByteArray("\x81\x20x") << QStringLiteral("\xDC81 x");
        QTest::newRow("lead before newline") << QByteArray("\x82\r\n") << QStringLiteral("\xDC82\r\n");
        QTest::newRow("nul") << QByteArray("\0\0", 2) << QString(2, QChar(0));
    }
    void invalidBytesAreEscaped() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const QString s = sjis::decode(bytes);
        QCOMPARE(s, text);
        for (QChar c : s)
            if (c.isLowSurrogate()) QVERIFY(sjis::isEscapedByte(c));
        QCOMPARE(Back(bytes), bytes);
    }

    void refusesWhatItCannotHold_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");
        QTest::addColumn<uint>("ch");
        QTest::newRow("euro") << QStringLiteral("ab€cd") << 2 << 0x20ACu;
        QTest::newRow("emoji") << QStringLiteral("x\U0001F600") << 1 << 0x1F600u;
        QTest::newRow("after japanese") << QStringLiteral("日本한") << 2 << 0xD55Cu;
        QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) << 0 << 0xD800u;
        QTest::newRow("low surrogate below escapes") << QString(QChar(0xDC41)) << 0 << 0xDC41u;
    }
    void refusesWhatItCannotHold() {
        QFETCH(QString, text);
        QFETCH(int, index);
        QFETCH(uint, ch);
        QByteArray out("untouched");
        sjis::EncodeError err;
        QVERIFY(!sjis::encode(text, out, &err));
        QCOMPARE(out, QByteArray("untouched"));
        QCOMPARE(int(err.index), index);
        QCOMPARE(uint(err.ch), ch);
        QVERIFY(sjis::describeChar(err.ch).startsWith(QStringLiteral("U+%1").arg(ch, 4, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("U+"), QLatin1String("U+"))));
        QVERIFY(!sjis::encodeLossy(text).isEmpty());
    }

    void describeChar() {
        QCOMPARE(sjis::describeChar(0x20AC), QStringLiteral("U+20AC '€'"));
        QCOMPARE(sjis::describeChar(0x1F600), QStringLiteral("U+1F600 '\U0001F600'"));
    }
};

QTEST_MAIN(TestSjis)
#include "tst_sjis.moc"
