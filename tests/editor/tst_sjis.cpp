// The Shift-JIS codec: every byte string comes back byte for byte, and text
// that Shift-JIS cannot hold is refused, never replaced.
#include <QTest>

#include "sjis.h"

class TestSjis : public QObject {
    Q_OBJECT

private slots:
    void everyOneAndTwoByteString() {
        int failures = 0;
        for (int a = 0; a < 256; ++a) {
            for (int b = -1; b < 256; ++b) {
                QByteArray bytes(1, char(a));
                if (b >= 0) bytes.append(char(b));
                QByteArray back("<refused>");
                sjis::encode(sjis::decode(bytes), back);
                if (back != bytes && ++failures < 5) qWarning("no round trip for %s", bytes.toHex(' ').constData());
            }
        }
        QCOMPARE(failures, 0);
    }

    void decode_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("kanji") << QByteArray("\x93\xfa\x96\x7b\x8c\xea") << QStringLiteral("日本語");
        QTest::newRow("half-width katakana") << QByteArray("\xb1\xb2") << QStringLiteral("ｱｲ");
        QTest::newRow("second byte like backslash") << QByteArray("\x95\x5c") << QStringLiteral("表");
        QTest::newRow("lone lead at end") << QByteArray("a\x81") << QStringLiteral("a\xDC81");
        QTest::newRow("unused single bytes") << QByteArray("\x80\xa0\xfd") << QStringLiteral("\xDC80\xDCA0\xDCFD");
        // An invalid double-byte code with an ASCII second byte: the lead is
        // escaped, the ASCII byte stays itself.
        QTest::newRow("lead before blank") << QByteArray("\x81\x20x") << QStringLiteral("\xDC81 x");
        QTest::newRow("lead before line end") << QByteArray("\x82\r\n") << QStringLiteral("\xDC82\r\n");
        QTest::newRow("nul") << QByteArray("\0\0", 2) << QString(2, QChar(0));
    }
    void decode() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(sjis::decode(bytes), text);
        QByteArray out;
        QVERIFY(sjis::encode(text, out));
        QCOMPARE(out, bytes);
    }

    void refuses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");
        QTest::addColumn<uint>("ch");
        QTest::addColumn<QString>("described");
        QTest::newRow("euro") << QStringLiteral("ab€cd") << 2 << 0x20ACu << QStringLiteral("U+20AC '€'");
        QTest::newRow("emoji") << QStringLiteral("x\U0001F600") << 1 << 0x1F600u << QStringLiteral("U+1F600 '\U0001F600'");
        QTest::newRow("after japanese") << QStringLiteral("日本한") << 2 << 0xD55Cu << QStringLiteral("U+D55C '한'");
        QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) << 0 << 0xD800u << QString();
        QTest::newRow("low surrogate below escapes") << QString(QChar(0xDC41)) << 0 << 0xDC41u << QString();
    }
    void refuses() {
        QFETCH(QString, text);
        QFETCH(int, index);
        QFETCH(uint, ch);
        QFETCH(QString, described);
        QByteArray out("untouched");
        sjis::EncodeError err;
        QVERIFY(!sjis::encode(text, out, &err));
        QCOMPARE(out, QByteArray("untouched"));
        QCOMPARE(int(err.index), index);
        QCOMPARE(uint(err.ch), ch);
        if (!described.isEmpty()) QCOMPARE(sjis::describeChar(err.ch), described);
    }
};

QTEST_MAIN(TestSjis)
#include "tst_sjis.moc"
