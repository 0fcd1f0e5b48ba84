// Find and replace: the search rule against a plain model on random lines of
// Latin, full-width, Japanese, escaped bytes and surrogate pairs; finding,
// replacing and replacing all in a real document window; the dialog.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include "childwin.h"
#include "editortest.h"
#include "finddialog.h"
#include "search.h"
#include "sjis.h"
#include "testmain.h"

namespace {

// Characters as code points; a lone surrogate stays one unit.
std::vector<char32_t> CodePoints(QStringView s, std::vector<qsizetype> *starts = nullptr) {
    std::vector<char32_t> out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (starts) starts->push_back(i);
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            out.push_back(QChar::surrogateToUcs4(s[i], s[i + 1]));
            ++i;
        } else {
            out.push_back(s[i].unicode());
        }
    }
    return out;
}

// The model: every column where the pattern's characters equal the line's
// characters (folded without match case), starting and ending on whole
// characters, and, for whole words, between non-word characters.
std::vector<qsizetype> ModelMatches(QStringView line, QStringView pattern, const search::Options &o) {
    std::vector<qsizetype> starts;
    const auto l = CodePoints(line, &starts);
    const auto p = CodePoints(pattern);
    starts.push_back(line.size());
    auto fold = [&](char32_t c) { return o.MatchCase || (c >= 0xD800 && c <= 0xDFFF) ? c : QChar::toCaseFolded(c); };
    auto word = [](char32_t c) { return c == U'_' || (!(c >= 0xD800 && c <= 0xDFFF) && QChar::isLetterOrNumber(c)); };
    std::vector<qsizetype> found;
    if (p.empty()) return found;
    for (size_t i = 0; i + p.size() <= l.size(); ++i) {
        bool same = true;
        for (size_t k = 0; k < p.size() && same; ++k) same = fold(l[i + k]) == fold(p[k]);
        if (!same) continue;
        if (o.WholeWord && ((i > 0 && word(l[i - 1])) || (i + p.size() < l.size() && word(l[i + p.size()])))) continue;
        found.push_back(starts[i]);
    }
    return found;
}

const QString kAlphabet[] = {
    QStringLiteral("a"),  QStringLiteral("A"),  QStringLiteral("b"),  QStringLiteral("ａ"), QStringLiteral("Ａ"),
    QStringLiteral("日"), QStringLiteral("本"), QStringLiteral("表"), QStringLiteral("_"),  QStringLiteral(" "),
    QStringLiteral("1"),  QStringLiteral("\\"), QString(QChar(0xDC95)), QString(QChar(0xDC5C)),
    QStringLiteral("\U00020B9F"),  // a surrogate pair
    QStringLiteral("\U00010400"),  // one with a case (folds to U+10428)
    QStringLiteral("\U00010428"),
    QStringLiteral("k"),  QString(QChar(0x212A)),  // the Kelvin sign folds to k
    QStringLiteral("S"),  QString(QChar(0x017F)),  // the long s folds to s
};

QString RandomText(QRandomGenerator &rng, int maxLength) {
    QString s;
    for (int n = int(rng.bounded(maxLength + 1)); n > 0; --n) s += kAlphabet[rng.bounded(int(std::size(kAlphabet)))];
    return s;
}

}  // namespace

class TstFind : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;

    TMDIChild *Open(QMdiArea &area, const QString &text) {
        QByteArray bytes;
        if (!sjis::encode(text, bytes)) return nullptr;
        TMDIChild *w = edtest::OpenInArea(area, Dir, bytes);
        if (w) w->show();
        return w;
    }

private slots:
    // Next and Previous from every column, against the model.
    void theRuleMatchesTheModel() {
        QRandomGenerator rng(20261207);
        for (int round = 0; round < 3000; ++round) {
            const QString line = RandomText(rng, 14);
            QString pattern = RandomText(rng, 3);
            if (rng.bounded(2) && !line.isEmpty()) {  // a piece of the line, cut anywhere
                const int a = int(rng.bounded(int(line.size())));
                pattern = line.mid(a, 1 + rng.bounded(3));
            }
            search::Options o;
            o.MatchCase = rng.bounded(2);
            o.WholeWord = rng.bounded(2);
            const auto model = ModelMatches(line, pattern, o);
            const QString where = QStringLiteral("round %1").arg(round);
            for (qsizetype from = 0; from <= line.size(); ++from) {
                auto next = std::lower_bound(model.begin(), model.end(), from);
                QVERIFY2(search::Next(line, pattern, from, o) == (next == model.end() ? -1 : *next), qPrintable(where));
                auto prev = std::lower_bound(model.begin(), model.end(), from);
                const qsizetype want = prev == model.begin() ? -1 : *(prev - 1);
                QVERIFY2(search::Previous(line, pattern, from, o) == want, qPrintable(where));
            }
            for (qsizetype at = 0; at <= line.size(); ++at)
                QCOMPARE(search::MatchesAt(line, at, pattern, o), std::binary_search(model.begin(), model.end(), at));
        }
    }

    // Replace all's finder through stretches of several lines finds what the
    // rule finds in each line, left to right and not overlapping, whichever
    // character it scans for (letters with three case forms included).
    void finderMatchesTheModel() {
        QRandomGenerator rng(20261208);
        for (int round = 0; round < 3000; ++round) {
            QStringList lines;
            for (int n = 1 + int(rng.bounded(4)); n > 0; --n) lines << RandomText(rng, 12);
            const QString text = lines.join(QStringLiteral("\r\n"));
            QString pattern = RandomText(rng, 3);
            if (rng.bounded(3) && !text.isEmpty()) {
                const int a = int(rng.bounded(int(text.size())));
                pattern = text.mid(a, 1 + rng.bounded(4));
            }
            search::Options o;
            o.MatchCase = rng.bounded(2);
            o.WholeWord = rng.bounded(2);
            std::vector<qsizetype> want;
            qsizetype base = 0;
            for (const QString &line : lines) {
                qsizetype from = 0;
                if (!pattern.contains(QLatin1Char('\n')) && !pattern.contains(QLatin1Char('\r')))
                    for (qsizetype at : ModelMatches(line, pattern, o))
                        if (at >= from) {
                            want.push_back(base + at);
                            from = at + pattern.size();
                        }
                base += line.size() + 2;
            }
            std::vector<qsizetype> found;
            search::TFinder(pattern, o).ForEach(text, [&](qsizetype at) { found.push_back(at); });
            QVERIFY2(found == want, qPrintable(QStringLiteral("round %1").arg(round)));
        }
    }

    // Replace all through a text of many pieces, with lines longer than a
    // piece and matches on the pieces' edges: the model's text, and undo gives
    // the text back.
    void replaceAllThroughPieces() {
        QRandomGenerator rng(7);
        QMdiArea area;
        auto *w = new TMDIChild;
        area.addSubWindow(w);
        w->show();
        TRichEdit *e = w->RichEdit1;
        for (int round = 0; round < 4; ++round) {
            QStringList lines;
            while (lines.join(QLatin1Char('\n')).size() < 40000) {
                const int length = rng.bounded(8) == 0 ? 4000 + int(rng.bounded(9000)) : int(rng.bounded(80));
                QString line;
                while (line.size() < length)
                    line += rng.bounded(6) == 0 ? QStringLiteral("Needle") : QString(1 + int(rng.bounded(5)), QLatin1Char("x_ .ne"[rng.bounded(6)]));
                lines << line;
            }
            e->setPlainText(lines.join(QLatin1Char('\n')));
            const QString before = TextOf(e);
            QVERIFY(e->Text()->PieceAt(0, nullptr).size() < 8000);  // many pieces
            finding::Request r;
            r.Pattern = QStringLiteral("needle");
            r.Options.WholeWord = round % 2;
            QString want;
            int count = 0;
            for (const QString &line : lines) {
                QString changed = line;
                std::vector<qsizetype> at;
                search::Options o = r.Options;
                for (qsizetype m : ModelMatches(line, r.Pattern, o))
                    if (at.empty() || m >= at.back() + 6) at.push_back(m);
                for (auto m = at.rbegin(); m != at.rend(); ++m) changed.replace(*m, 6, QStringLiteral("pin"));
                count += int(at.size());
                want += (want.isEmpty() && &line == &lines.front() ? QString() : QStringLiteral("\r\n")) + changed;
            }
            QCOMPARE(finding::ReplaceAll(e, r, QStringLiteral("pin")), count);
            QCOMPARE(TextOf(e), want);
            e->undo();
            QCOMPARE(TextOf(e), before);
            QVERIFY(!e->isUndoAvailable());
        }
        w->Changed = false;
    }

    // Decoded files: a character is never half matched, an escaped byte
    // matches itself alone, and nothing matches an empty text or a line break.
    void charactersNotBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QList<qsizetype>>("columns");
        // 表 is 95 5C: its trail byte is the byte of "\".
        QTest::newRow("trail byte is no backslash") << QByteArray("\x95\x5C\x5C") << QStringLiteral("\\") << QList<qsizetype>{1};
        QTest::newRow("japanese") << QByteArray("\x93\xfa\x96\x7b\x93\xfa") << QStringLiteral("日") << QList<qsizetype>{0, 2};
        // A lone lead byte 95 before a blank is kept escaped.
        QTest::newRow("escaped byte") << QByteArray("\x95 \x95\x5C") << QString(QChar(0xDC95)) << QList<qsizetype>{0};
        QTest::newRow("escaped byte is no character") << QByteArray("\x95 a") << QStringLiteral("?") << QList<qsizetype>{};
        QTest::newRow("empty") << QByteArray("abc") << QString() << QList<qsizetype>{};
        QTest::newRow("line break") << QByteArray("abc") << QStringLiteral("b\n") << QList<qsizetype>{};
        QTest::newRow("full-width case") << QByteArray("\x82\x60\x82\x81") << QStringLiteral("ａ") << QList<qsizetype>{0, 1};
    }
    void charactersNotBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, pattern);
        QFETCH(QList<qsizetype>, columns);
        const QString line = sjis::decode(bytes);
        QList<qsizetype> found;
        search::ForEach(line, pattern, search::Options{}, [&](qsizetype at) { found << at; });
        QCOMPARE(found, columns);
    }

    // Find next and previous through a document visit the model's matches in
    // order, selected by T positions, and wrap or stop at the ends.
    void findWalksTheDocument() {
        QRandomGenerator rng(7);
        QMdiArea area;
        area.resize(500, 300);
        for (int round = 0; round < 40; ++round) {
            QStringList lines;
            for (int n = 1 + int(rng.bounded(30)); n > 0; --n) lines << RandomText(rng, 12);
            // Typed or pasted text may hold what no file gives (pairs, any escaped byte).
            auto *w = new TMDIChild;
            area.addSubWindow(w);
            w->show();
            w->RichEdit1->setPlainText(lines.join(QLatin1Char('\n')));
            w->Changed = false;
            TRichEdit *e = w->RichEdit1;
            const QString T = TextOf(e);
            finding::Request r;
            r.Pattern = RandomText(rng, 2);
            if (r.Pattern.isEmpty()) r.Pattern = QStringLiteral("a");
            r.Options.MatchCase = rng.bounded(2);
            r.Options.WholeWord = rng.bounded(2);
            // Every match, overlapping ones included.
            std::vector<int> model;
            for (qsizetype at = search::Next(T, r.Pattern, 0, r.Options); at >= 0; at = search::Next(T, r.Pattern, at + 1, r.Options))
                model.push_back(int(at));
            const int plen = int(r.Pattern.size());
            // Forwards from the top, without wrap: no overlaps (each search starts at the end of the last).
            SetSelection(e, 0, 0);
            r.Wrap = false;
            int last = -plen;
            for (int at : model) {
                if (at < last + plen) continue;
                QCOMPARE(finding::FindNext(e, r), finding::Found);
                QCOMPARE(SelStart(e), at);
                QCOMPARE(SelLength(e), plen);
                last = at;
            }
            const int before = SelStart(e);
            QCOMPARE(finding::FindNext(e, r), finding::NotFound);
            QCOMPARE(SelStart(e), before);
            // Wrap: past the end to the first match again.
            r.Wrap = true;
            const finding::Result wrapped = finding::FindNext(e, r);
            QCOMPARE(wrapped, model.empty() ? finding::NotFound : finding::Wrapped);
            if (!model.empty()) QCOMPARE(SelStart(e), model.front());
            // Backwards from the end: every match starting before the last one found.
            r.Backwards = true;
            SetSelection(e, int(T.size()), 0);
            for (auto it = model.rbegin(); it != model.rend(); ++it) {
                QCOMPARE(finding::FindNext(e, r), finding::Found);
                QCOMPARE(SelStart(e), *it);
            }
            if (!model.empty()) {
                QCOMPARE(finding::FindNext(e, r), finding::Wrapped);
                QCOMPARE(SelStart(e), model.back());
            }
            QVERIFY(!w->Changed);  // finding is no edit
            // Replacing going up and down with a replacement that holds the
            // pattern: each match is replaced once and no match inside a
            // replacement, as the same steps on the plain text give.
            const QString with = QLatin1Char('(') + r.Pattern + QLatin1Char(')');
            r.Wrap = false;
            for (bool up : {true, false}) {
                e->setPlainText(T);
                QString want = T;
                if (up)
                    for (qsizetype at = want.size(); (at = search::Previous(want, r.Pattern, at, r.Options)) >= 0;)
                        want.replace(at, plen, with);
                else
                    for (qsizetype at = 0; (at = search::Next(want, r.Pattern, at, r.Options)) >= 0; at += with.size())
                        want.replace(at, plen, with);
                r.Backwards = up;
                SetSelection(e, up ? int(T.size()) : 0, 0);
                for (size_t presses = 0; finding::ReplaceNext(e, r, with) != finding::NotFound && presses <= model.size(); ++presses) {
                }
                QCOMPARE(TextOf(e), want);
            }
            delete w;
        }
    }

    // A line that lies within one of the text store's chunks is searched where
    // it lies, one that crosses a chunk's end in a copy: the same matches
    // either way, forwards, backwards, round the ends and replaced all. The
    // row's line ends `offset` from the end of the first chunk, with a match
    // at its end.
    void findFarAway_data() {
        QTest::addColumn<int>("offset");
        QTest::newRow("line ends one before the chunk's end") << -1;
        QTest::newRow("line ends at the chunk's end") << 0;
        QTest::newRow("line ends one past the chunk's end") << 1;
        QTest::newRow("match across the chunk's end") << 3;
    }
    void findFarAway() {
        QFETCH(int, offset);
        QMdiArea area;
        auto *w = new TMDIChild;
        area.addSubWindow(w);
        w->show();
        QStringList lines(6000, QStringLiteral("int filler_line_of_text; /* 日本語 */ x"));
        for (int n : {3, 2500, 2501, 5999}) lines[n] = QStringLiteral("needle ") + QString::number(n) + QStringLiteral(" Needle_");
        TRichEdit *e = w->RichEdit1;
        e->setPlainText(lines.join(QLatin1Char('\n')));
        const int edge = int(e->Text()->PieceAt(0, nullptr).size());
        const int line = e->Text()->LineOf(edge - 100), start = e->Text()->LineStart(line);
        lines[line] = QString(edge + offset - start - 7, QLatin1Char('z')) + QStringLiteral(" needle");
        e->setPlainText(lines.join(QLatin1Char('\n')));
        const QString T = TextOf(e);
        finding::Request r;
        r.Pattern = QStringLiteral("needle");
        for (bool whole : {false, true}) {
            r.Options.WholeWord = whole;
            std::vector<int> model;
            search::ForEach(T, r.Pattern, r.Options, [&](qsizetype at) { model.push_back(int(at)); });
            QCOMPARE(model.size(), size_t(whole ? 5 : 9));
            r.Backwards = false;
            SetSelection(e, 0, 0);
            for (size_t k = 0; k <= model.size(); ++k) {
                QCOMPARE(finding::FindNext(e, r), k < model.size() ? finding::Found : finding::Wrapped);
                QCOMPARE(SelStart(e), model[k % model.size()]);
            }
            r.Backwards = true;
            SetSelection(e, int(T.size()), 0);
            for (size_t k = model.size(); k-- > 0;) {
                QCOMPARE(finding::FindNext(e, r), finding::Found);
                QCOMPARE(SelStart(e), model[k]);
            }
            QCOMPARE(finding::FindNext(e, r), finding::Wrapped);
            QCOMPARE(SelStart(e), model.back());
            if (!whole) continue;
            QString want = T;
            for (auto at = model.rbegin(); at != model.rend(); ++at) want.replace(*at, 6, QStringLiteral("pin"));
            QCOMPARE(finding::ReplaceAll(e, r, QStringLiteral("pin")), int(model.size()));
            QCOMPARE(TextOf(e), want);
        }
        w->Changed = false;
    }

    // Replace all: the text the model gives, one undo step, each changed line
    // coloured by the rules, the document marked changed.
    void replaceAllIsOneEdit() {
        QMdiArea area;
        TMDIChild *w = Open(area, QStringLiteral("foo x; /* foo */\r\nFoo y;\r\n// 日本 foo\r\nfoofoo\r\nlast foo"));
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        const QString before = TextOf(e);
        SetSelection(e, 4, 0);
        finding::Request r;
        r.Pattern = QStringLiteral("foo");
        QCOMPARE(finding::ReplaceAll(e, r, QStringLiteral("int")), 7);
        QCOMPARE(TextOf(e), QStringLiteral("int x; /* int */\r\nint y;\r\n// 日本 int\r\nintint\r\nlast int"));
        QCOMPARE(SelStart(e), 4);
        QVERIFY(w->Changed);
        QVERIFY(w->windowTitle().endsWith(QLatin1Char('*')));
        // Keywords blue, comments green, every line as its own colouring gives.
        QCOMPARE(edtest::Mask(e).left(16), QStringLiteral("KKKBBBBGGGGGGGGG"));
        QCOMPARE(edtest::Mask(e).mid(18, 6), QStringLiteral("KKKBBB"));
        QCOMPARE(edtest::Mask(e).mid(26, 11), QStringLiteral("GGGGGGGGGGG"));
        QCOMPARE(edtest::Mask(e).mid(37, 6), QStringLiteral("BBBBBB"));
        QCOMPARE(edtest::Mask(e).mid(50, 3), QStringLiteral("BBB"));  // a word at the very end is not closed
        // A replacement with a line break in it: the lines after shift, all coloured.
        e->undo();
        QCOMPARE(TextOf(e), before);
        r.Options.MatchCase = true;
        r.Options.WholeWord = true;
        QCOMPARE(finding::ReplaceAll(e, r, QStringLiteral("a\nint")), 4);
        QCOMPARE(TextOf(e), QStringLiteral("a\r\nint x; /* a\r\nint */\r\nFoo y;\r\n// 日本 a\r\nint\r\nfoofoo\r\nlast a\r\nint"));
        QCOMPARE(edtest::Mask(e).mid(3, 3), QStringLiteral("KKK"));
        QCOMPARE(edtest::Mask(e).mid(int(TextOf(e).indexOf(QStringLiteral("\r\nint\r\nfoofoo"))) + 2, 3), QStringLiteral("KKK"));
        e->undo();
        QCOMPARE(TextOf(e), before);
        QCOMPARE(finding::ReplaceAll(e, r, QStringLiteral("x")), 4);
        r.Pattern = QStringLiteral("nothing");
        QCOMPARE(finding::ReplaceAll(e, r, QStringLiteral("x")), 0);
        r.Pattern.clear();
        QCOMPARE(finding::ReplaceAll(e, r, QStringLiteral("x")), 0);
    }

    // Replace: a selection that is a match is replaced (its own undo step),
    // then the next match is selected; any other selection is only moved on.
    void replaceStepsThrough() {
        QMdiArea area;
        TMDIChild *w = Open(area, QStringLiteral("日本 x 日本\r\n日本"));
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        finding::Request r;
        r.Pattern = QStringLiteral("日本");
        SetSelection(e, 3, 0);
        bool replaced = true;
        QCOMPARE(finding::ReplaceNext(e, r, QStringLiteral("c"), &replaced), finding::Found);
        QVERIFY(!replaced);
        QCOMPARE(SelStart(e), 5);
        QCOMPARE(finding::ReplaceNext(e, r, QStringLiteral("c"), &replaced), finding::Found);
        QVERIFY(replaced);
        QCOMPARE(TextOf(e), QStringLiteral("日本 x c\r\n日本"));
        QCOMPARE(SelStart(e), 8);
        QCOMPARE(finding::ReplaceNext(e, r, QStringLiteral("c"), &replaced), finding::Wrapped);
        QCOMPARE(TextOf(e), QStringLiteral("日本 x c\r\nc"));
        QCOMPARE(SelStart(e), 0);
        QVERIFY(w->Changed);
        e->undo();
        QCOMPARE(TextOf(e), QStringLiteral("日本 x c\r\n日本"));
    }

    // The dialog: non-modal, acting on its target, notes in its status line.
    void theDialogDrivesTheTarget() {
        QMdiArea area;
        TMDIChild *w = Open(area, QStringLiteral("int a;\r\nint b;"));
        QVERIFY(w);
        TFindDialog d;
        d.Target = [w] { return w->RichEdit1; };
        QStringList notes;
        connect(&d, &TFindDialog::Note, this, [&](const QString &t) { notes << t; });
        SetSelection(w->RichEdit1, 0, 3);
        d.ShowFor(false);
        QVERIFY(!d.isModal());
        QCOMPARE(d.FindText->text(), QStringLiteral("int"));
        QVERIFY(!d.ReplaceText->isVisible());
        QTest::mouseClick(d.FindButton, Qt::LeftButton);
        QCOMPARE(SelStart(w->RichEdit1), 8);
        QTest::mouseClick(d.FindButton, Qt::LeftButton);
        QCOMPARE(SelStart(w->RichEdit1), 0);
        QCOMPARE(d.Status->text(), QStringLiteral("末尾まで検索したので、先頭から検索しました"));
        d.WrapAround->setChecked(false);
        d.Backwards->setChecked(true);
        QTest::mouseClick(d.FindButton, Qt::LeftButton);
        QCOMPARE(d.Status->text(), QStringLiteral("「int」は見つかりませんでした"));
        QCOMPARE(SelStart(w->RichEdit1), 0);
        d.ShowFor(true);
        QVERIFY(d.ReplaceText->isVisible());
        d.ReplaceText->setText(QStringLiteral("long"));
        QTest::mouseClick(d.ReplaceAllButton, Qt::LeftButton);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("long a;\r\nlong b;"));
        QCOMPARE(d.Status->text(), QStringLiteral("2 個置換しました"));
        QCOMPARE(notes.last(), d.Status->text());
        // A match far down is scrolled into view.
        SetSelection(w->RichEdit1, TextLength(w->RichEdit1), 0);
        w->RichEdit1->insertPlainText(QString(200, QLatin1Char('\n')) + QStringLiteral("far"));
        SetSelection(w->RichEdit1, 0, 0);
        d.FindText->setText(QStringLiteral("far"));
        d.Backwards->setChecked(false);
        QTest::mouseClick(d.FindButton, Qt::LeftButton);
        QCOMPARE(TextSlice(w->RichEdit1, SelStart(w->RichEdit1), SelLength(w->RichEdit1)), QStringLiteral("far"));
        QVERIFY(w->RichEdit1->viewport()->rect().contains(w->RichEdit1->cursorRect().center()));
        // No target: nothing happens.
        d.Target = [] { return static_cast<TRichEdit *>(nullptr); };
        QCOMPARE(d.FindAgain(false), finding::NotFound);
    }
};

QV_TEST_MAIN(TstFind)
#include "tst_find.moc"
