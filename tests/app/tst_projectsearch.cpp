// Find in the project on real files and open documents, the 検索結果 tab's own
// list, navigation from its rows, cancelling; and the Edit menu's find,
// replace and go-to-line commands on the main window.
#include "childwin.h"
#include "modal.h"
#include "textof.h"
#include "errorreport.h"
#include "finddialog.h"
#include "findcontrol.h"
#include "compilecontrol.h"
#include "documents.h"
#include "mainform.h"
#include "searchcontrol.h"
#include "projectfile.h"
#include "projectsearch.h"
#include "projecttree.h"
#include "sjis.h"
#include "sjisscan.h"
#include "sourcetext.h"
#include "textpos.h"
#include "textstore.h"
#include "../testfiles.h"
#include "../testmain.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <sys/stat.h>

namespace {

// Answers a real modal exec() from inside its event loop; a guard closes the
// dialog if the answer did not, so that a fault cannot hang the run.
void AnswerModal(QObject *context, std::function<void(QDialog &)> answer) {
    QTimer::singleShot(0, context, [answer] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) answer(*d);
    });
    QTimer::singleShot(10000, context, [] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) d->done(99);
    });
}

QByteArray Sjis(const QString &text) {
    QByteArray out;
    sjis::encode(text, out);
    return out;
}

// ---- The decode-everything path, as a reference for the rows ----------------

// A row as the reference gives it.
struct Want {
    QString Text;
    int Line;
    int Column;
    bool operator==(const Want &o) const { return Text == o.Text && Line == o.Line && Column == o.Column; }
};

// Where two lists of rows part, for a failure's message.
QString Difference(const std::vector<Want> &got, const std::vector<Want> &want) {
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    const auto show = [&](const std::vector<Want> &v) {
        return i < v.size() ? QStringLiteral("%1 [%2:%3]").arg(v[i].Text).arg(v[i].Line).arg(v[i].Column)
                            : QStringLiteral("(no row)");
    };
    return QStringLiteral("%1 and %2 rows; row %3: %4, wanted %5").arg(got.size()).arg(want.size()).arg(i)
        .arg(show(got), show(want));
}

// The whole file decoded, split at CR LF, LF and CR, each line searched as
// text. A row shows the line without its leading blanks and each control
// character as a blank (the lines made here are shorter than a row).
std::vector<Want> Reference(const QString &path, const QByteArray &bytes, const QString &pattern,
                            const search::Options &o) {
    std::vector<Want> out;
    const QString text = sjis::decode(bytes);
    int number = 1;
    qsizetype start = 0;
    for (qsizetype i = 0;; ++i) {
        if (i < text.size() && text[i] != QLatin1Char('\r') && text[i] != QLatin1Char('\n')) continue;
        const QString line = text.mid(start, i - start);
        search::ForEach(line, pattern, o, [&](qsizetype at) {
            QString shown = line;
            while (shown.startsWith(QLatin1Char(' ')) || shown.startsWith(QLatin1Char('\t'))) shown.remove(0, 1);
            for (QChar &c : shown)
                if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QLatin1Char(' ');
            out.push_back({QStringLiteral("%1 %2: %3").arg(path).arg(number).arg(shown), number, int(at)});
        });
        if (i == text.size()) break;
        if (text[i] == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) ++i;
        start = i + 1;
        ++number;
    }
    return out;
}

std::vector<Want> Wants(const std::vector<TSearchRow> &rows) {
    std::vector<Want> out;
    for (const TSearchRow &r : rows) out.push_back({r.Text, r.Line, r.Column});
    return out;
}

// The bytes of a code: one byte, or two high byte first.
QByteArray Code(quint16 code) {
    QByteArray b;
    if (code > 0xFF) b += char(code >> 8);
    b += char(code & 0xFF);
    return b;
}

// Random Shift-JIS files: ASCII words and signs, half-width katakana, full-width
// letters, katakana and hiragana, Greek and Cyrillic, codes whose second byte
// is 5C or 7C, characters with two or three codes, runs of codes made of lead
// bytes only, bytes that are no valid code, and CR LF, LF and CR mixed.
class RandomSjis {
public:
    explicit RandomSjis(quint32 start) : Rng(start) {}

    int Below(int n) { return int(Rng() % quint32(n)); }

    QByteArray Line() {
        QByteArray line;
        const int pieces = Below(16);
        while (line.size() < 140 && int(line.size()) < pieces * 8) line += Piece();
        if (Below(4) == 0) line.prepend(Below(2) ? "\t  " : "    ");
        return line;
    }

    QByteArray File() {
        QByteArray file;
        const int lines = Below(30);
        for (int i = 0; i < lines; ++i) {
            file += Line();
            if (i + 1 < lines || Below(3)) file += End();
        }
        return file;
    }

    QByteArray End() {
        switch (Below(4)) {
        case 0: return "\n";
        case 1: return "\r";
        default: return "\r\n";
        }
    }

    QByteArray Piece() {
        static const char *const words[] = {"int", "Int", "INT", "print", "_int", "a", "b", "i++", "x", "\\", "|", " ",
                                            "\t", "(", ");", "0", "9", "_", "\x01", "\x7F"};
        static const quint16 codes[] = {
            // full-width letters, Greek, Cyrillic, katakana, hiragana
            0x8260, 0x8279, 0x8281, 0x829A, 0x8261, 0x8282, 0x839F, 0x83BF, 0x83B6, 0x83D6, 0x8440, 0x8470, 0x8460,
            0x8491, 0x8446, 0x8476, 0x8340, 0x8396, 0x82A0, 0x82F1, 0x8393,
            // second byte 5C or 7C: ―, ソ, 能, 表, 十, 予, 構, 申, 噂, −, ポ, 竹 ...
            0x815C, 0x835C, 0x945C, 0x955C, 0x8F5C, 0x975C, 0x8D5C, 0x905C, 0x8A5C, 0x817C, 0x837C, 0x927C, 0xE05C,
            0xE07C, 0x9A7C, 0x965C,
            // characters with more than one code: Ⅰ, ⅰ, ∵, 纊, ≒, ¬
            0x8754, 0xFA4A, 0xEEEF, 0xFA40, 0x81E6, 0x879A, 0xFA5B, 0xFA5C, 0xED40, 0x8790, 0x81E0, 0x81CA, 0xEEF9,
            // both bytes lead bytes: ＝, 瑞, 蕊 ...
            0x8181, 0x9081, 0xE0E0, 0x9F9F, 0xFAFA,
            // no character: undefined pairs
            0x8540, 0x85FC, 0xEB40, 0xEFFC};
        switch (Below(12)) {
        case 0:
        case 1:
        case 2: return words[Below(int(std::size(words)))];
        case 3: {  // a word of random letters
            QByteArray w;
            for (int n = 1 + Below(4); n > 0; --n) w += char((Below(2) ? 'a' : 'A') + Below(4));
            return w;
        }
        case 4: return QByteArray(1, char(0xA1 + Below(0xDF - 0xA1 + 1)));  // half-width katakana
        case 5: {  // a run of lead bytes: ＝＝＝ or the like, or one lead byte short
            QByteArray run;
            const char lead = char(Below(2) ? 0x81 : 0xE0);
            for (int n = 1 + Below(12); n > 0; --n) run += lead;
            return run;
        }
        case 6:  // no valid code: 80, A0, FD..FF, or a lead byte alone
            return QByteArray(1, "\x80\xA0\xFD\xFE\xFF\x81\x9F\xE0\xFC"[Below(9)]);
        case 7: return QByteArray(1, char(Below(256)));
        default: {
            const quint16 c = codes[Below(int(std::size(codes)))];
            return Code(c);
        }
        }
    }

    // A text to look for in `file`: most often part of one of its lines (its
    // letters' case changed at random without match case), else one of a list
    // of its own.
    QString Pattern(const QByteArray &file, bool matchCase) {
        static const QStringList fixed{
            QStringLiteral("\\"), QStringLiteral("|"), QStringLiteral("ソ"), QStringLiteral("表\\"),
            QStringLiteral("\\|"), QStringLiteral("―"), QStringLiteral("Ａ"), QStringLiteral("ａｂ"),
            QStringLiteral("α"), QStringLiteral("Ω"), QStringLiteral("я"), QStringLiteral("Ⅰ"), QStringLiteral("ⅰ"),
            QStringLiteral("∵"), QStringLiteral("纊"), QStringLiteral("≒"), QStringLiteral("＝"), QStringLiteral("＝＝"),
            QStringLiteral("ｱ"), QStringLiteral("int"), QStringLiteral("_"), QStringLiteral("a"), QStringLiteral("ポ"),
            QStringLiteral("i++"), QStringLiteral("€"), QStringLiteral("t\\r"), QStringLiteral("¬"),
            QString(QChar(0xDC81)), QString(QChar(0xDC40)), QString(QChar(0xDC85)) + QChar(0xDC40),
            QString(QChar(0xDCE0)) + QStringLiteral("a")};
        const QString text = sjis::decode(file);
        if (text.isEmpty() || Below(3) == 0) return fixed.at(Below(int(fixed.size())));
        const qsizetype at = Below(int(text.size()));
        QString p = text.mid(at, 1 + Below(4));
        for (qsizetype i = 0; i < p.size(); ++i)
            if (p[i] == QLatin1Char('\r') || p[i] == QLatin1Char('\n')) p.truncate(i);
        if (p.isEmpty()) return fixed.at(Below(int(fixed.size())));
        if (!matchCase)
            for (QChar &c : p) c = Below(2) ? c.toUpper() : c.toLower();
        return p;
    }

private:
    std::mt19937 Rng;
};

}  // namespace

class TstProjectSearch : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TMainForm> form;
    QStringList reports;
    std::unique_ptr<qvtest::MessageBoxAnswers> boxes;

    QString path(const QString &name) const { return dir->filePath(name); }
    QStringList rows() const {
        QStringList r;
        for (int i = 0; i < form->Panel1->SearchList->count(); ++i) r << form->Panel1->SearchList->Row(i);
        return r;
    }
    bool waitDone() {
        return QTest::qWaitFor([this] { return !form->Searcher->ProjectSearch->Running(); }, 60000);
    }
    void addFile(const QString &file) {
        if (form->CurrentProject.IsEmpty()) form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        form->CurrentProject.AddFile(QFileInfo(file).fileName(), file);
    }
    void dblClick(int row) {
        form->Panel1->SearchList->ScrollToRow(row);
        const QPoint at = form->Panel1->SearchList->RowRect(row).center();
        QTest::mouseClick(form->Panel1->SearchList->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(form->Panel1->SearchList->viewport(), Qt::LeftButton, {}, at);
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        reports.clear();
        // Error reports are collected; every save question is answered Discard.
        boxes = std::make_unique<qvtest::MessageBoxAnswers>([this](QMessageBox &box) {
            if (box.icon() != QMessageBox::Critical) return QMessageBox::Discard;
            reports << qvtest::ReportMessage(box);
            return QMessageBox::Ok;
        });
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void cleanup() {
        form.reset();
        boxes.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    // Every file of the tree once, in tree order: open documents as edited,
    // others from disk decoded losslessly; unreadable ones give one row each.
    void searchesEveryFileOfTheTree() {
        QVERIFY(qvtest::WriteFile(path("a.c"), Sjis(QStringLiteral("int main(void)\r\n{\r\n\t  /* 日本語 int */\r\n}\r\n"))));
        QVERIFY(qvtest::WriteFile(path("b.h"), "#define INT 1\nint x;\nprint\n"));
        QVERIFY(qvtest::WriteFile(path("c.c"), "int\rint\r\n\x95 int \x95\x5C\x5C int"));  // lone CR, escaped byte, 表
        QVERIFY(qvtest::WriteFile(path("open.c"), "nothing here\r\n"));
        QVERIFY(qvtest::WriteFile(path("long.c"), QByteArray(300, 'x') + " int " + QByteArray(300, 'y') + "\r\n"));
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("sub.c")));
        QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.c")).constData(), 0600), 0);  // never waited on
        for (const char *f : {"a.c", "b.h", "c.c", "open.c", "missing.c", "sub.c", "pipe.c", "long.c", "a.c"}) addFile(path(f));
        form->OpenDocument(path("open.c"));
        TMDIChild *doc = form->ActiveMDIChild();
        QVERIFY(doc);
        QTest::keyClicks(doc->RichEdit1, "int y; ");  // not saved: the search sees it
        form->Compiler->AppendOutput(QStringLiteral("- compile row"));

        search::Options o;
        form->Searcher->StartProjectSearch(QStringLiteral("int"), o);
        QCOMPARE(form->TabSet1->currentIndex(), 1);
        QVERIFY(waitDone());
        // Tree order (the file added last first, then by name) and line order;
        // without match case INT and print hold "int" too; the escaped byte 95
        // stays a character of its own, 表 (95 5C) is one; a row shows the line
        // without its leading blanks.
        const QString esc = QString(QChar(0xDC95));
        const QStringList want{
            path("a.c") + QStringLiteral(" 1: int main(void)"),
            path("a.c") + QStringLiteral(" 3: /* 日本語 int */"),
            path("b.h") + QStringLiteral(" 1: #define INT 1"),
            path("b.h") + QStringLiteral(" 2: int x;"),
            path("b.h") + QStringLiteral(" 3: print"),
            path("c.c") + QStringLiteral(" 1: int"),
            path("c.c") + QStringLiteral(" 2: int"),
            path("c.c") + QStringLiteral(" 3: ") + esc + QStringLiteral(" int 表\\ int"),
            path("c.c") + QStringLiteral(" 3: ") + esc + QStringLiteral(" int 表\\ int"),
            // A long line shows a window of 160 characters from 40 before the
            // match, cut marks at both ends.
            path("long.c") + QStringLiteral(" 1: \u2026") + QString(39, QLatin1Char('x')) + QStringLiteral(" int ") +
                QString(116, QLatin1Char('y')) + QStringLiteral("\u2026"),
            QStringLiteral("* ファイル %1 を開けません").arg(path("missing.c")),
            path("open.c") + QStringLiteral(" 1: int y; nothing here"),
            QStringLiteral("* ファイル %1 を開けません: 通常のファイルではありません").arg(path("pipe.c")),
            QStringLiteral("* ファイル %1 を開けません").arg(path("sub.c")),
            QStringLiteral("- 「int」: 11 件、5 ファイル (検索したファイル 8)"),
        };
        QCOMPARE(rows(), want);
        const QString longRow = want.at(9);
        // The tab strip shows one list or the other; the compile rows stay.
        QVERIFY(form->Panel1->SearchList->isVisible());
        QVERIFY(!form->Output->isVisible());
        form->TabSet1->setCurrentIndex(0);
        QVERIFY(form->Output->isVisible());
        QVERIFY(!form->Panel1->SearchList->isVisible());
        QCOMPARE(form->Output->count(), 1);
        form->TabSet1->setCurrentIndex(1);

        // Double-clicks: a file that is not open is opened and its match selected.
        dblClick(int(rows().indexOf(longRow)));
        TMDIChild *opened = form->ActiveMDIChild();
        QVERIFY(opened && opened->FileName == path("long.c"));
        QCOMPARE(SelStart(opened->RichEdit1), 301);
        QCOMPARE(SelLength(opened->RichEdit1), 3);
        // An open document is brought forward, the match on its line selected.
        dblClick(int(rows().indexOf(path("c.c") + QStringLiteral(" 3: ") + QChar(0xDC95) + QStringLiteral(" int 表\\ int"))));
        TMDIChild *c = form->ActiveMDIChild();
        QVERIFY(c && c->FileName == path("c.c"));
        QCOMPARE(SelStart(c->RichEdit1), 10 + 2);
        dblClick(int(rows().indexOf(path("c.c") + QStringLiteral(" 3: ") + QChar(0xDC95) + QStringLiteral(" int 表\\ int"))) + 1);
        QCOMPARE(SelStart(c->RichEdit1), 10 + 9);
        QCOMPARE(TextSlice(c->RichEdit1, SelStart(c->RichEdit1), SelLength(c->RichEdit1)), QStringLiteral("int"));
        form->OpenDocument(path("long.c"));
        dblClick(int(rows().indexOf(path("c.c") + QStringLiteral(" 1: int"))));
        QCOMPARE(form->ActiveMDIChild(), c);
        QCOMPARE(SelStart(c->RichEdit1), 0);
        // Rows that are no match, and a file gone since, open nothing.
        const int docs = form->MDIChildCount();
        dblClick(int(rows().indexOf(QStringLiteral("* ") + EQvError::CannotOpen(path("missing.c")).Message)));
        dblClick(form->Panel1->SearchList->count() - 1);
        QVERIFY(QFile::remove(path("b.h")));
        dblClick(int(rows().indexOf(path("b.h") + QStringLiteral(" 2: int x;"))));
        QCOMPARE(form->MDIChildCount(), docs);
        QVERIFY(reports.isEmpty());

        // Match case and whole word reach the search; an empty project gives the count row alone.
        o.MatchCase = true;
        o.WholeWord = true;
        form->Searcher->StartProjectSearch(QStringLiteral("INT"), o);
        QVERIFY(waitDone());
        QCOMPARE(rows().size(), 5);  // b.h, missing.c, sub.c and pipe.c cannot be read; nothing else matches
        QCOMPARE(rows().last(), QStringLiteral("- 「INT」: 0 件、0 ファイル (検索したファイル 8)"));
        form->CurrentProject = project::Project();
        form->Searcher->StartProjectSearch(QStringLiteral("int"), o);
        QVERIFY(waitDone());
        QCOMPARE(rows(), QStringList{QStringLiteral("- 「int」: 0 件、0 ファイル (検索したファイル 0)")});
    }

    // A search can be cancelled and replaced; the window stays usable meanwhile.
    void cancelAndRestart() {
        // Inside one long file: the search stops where it is, not at the file's end.
        const int lines = 2000000;
        QVERIFY(qvtest::WriteFile(path(QStringLiteral("long.c")), QByteArray("int a;\r\n").repeated(lines)));
        addFile(path(QStringLiteral("long.c")));
        // Stop is pressed as soon as the first rows are listed.
        TProjectSearch *search = form->Searcher->ProjectSearch;
        const auto list = search->OnRows;
        search->OnRows = [&](const std::vector<TSearchRow> &r) {
            list(r);
            form->ProjFindStopItem->trigger();
        };
        form->Searcher->StartProjectSearch(QStringLiteral("int"), {});
        QVERIFY(waitDone());
        search->OnRows = list;
        QVERIFY(form->Panel1->SearchList->count() > 1);
        const QRegularExpressionMatch stopped =
            QRegularExpression(QStringLiteral("^\\* 検索を中止しました: (\\d+) 件")).match(rows().last());
        QVERIFY2(stopped.hasMatch(), qPrintable(rows().last()));
        QVERIFY2(stopped.captured(1).toInt() < lines, qPrintable(rows().last()));
        form->CurrentProject = project::Project();
        const QByteArray body = QByteArray("int a; /* x */\r\n").repeated(3000);
        for (int i = 0; i < 150; ++i) {
            const QString f = path(QStringLiteral("f%1.c").arg(i));
            QVERIFY(qvtest::WriteFile(f, body));
            addFile(f);
        }
        form->Searcher->StartProjectSearch(QStringLiteral("int"), {});
        QVERIFY(form->ProjFindStopItem->isEnabled());
        form->ProjFindStopItem->trigger();
        QVERIFY(waitDone());
        QVERIFY(!form->ProjFindStopItem->isEnabled());
        QVERIFY(rows().last().startsWith(QStringLiteral("* 検索を中止しました: ")));
        QVERIFY(rows().size() < 150 * 3000);
        // A second search replaces the first: only its rows are listed.
        form->Searcher->StartProjectSearch(QStringLiteral("int"), {});
        QTest::qWait(5);
        form->Searcher->StartProjectSearch(QStringLiteral("x"), {});
        QVERIFY(waitDone());
        // Every match is counted; the list holds no more than MaxRows of them.
        QCOMPARE(rows().size(), TProjectSearch::MaxRows + 2);
        QCOMPARE(rows().at(TProjectSearch::MaxRows),
                 QStringLiteral("* 一致が多すぎるため、最初の %1 件だけを表示しています").arg(TProjectSearch::MaxRows));
        QCOMPARE(rows().last(), QStringLiteral("- 「x」: 450000 件、150 ファイル (検索したファイル 150)"));
        // They are the first ones in tree order, though many threads searched.
        QStringList order;
        for (const project::Node &node : form->CurrentProject.Nodes)
            if (node.HasPath) order << node.Path;
        for (int k : {0, 2999, 3000, 3001, 50000, 77777, TProjectSearch::MaxRows - 1})
            QCOMPARE(rows().at(k), QStringLiteral("%1 %2: int a; /* x */").arg(order.at(k / 3000)).arg(k % 3000 + 1));
        // Closing the window during a search ends it.
        form->Searcher->StartProjectSearch(QStringLiteral("a"), {});
        form.reset();
    }

    // A row shows a long line as a window of 160 characters that starts 40
    // before the match, held inside the line, never between the halves of a
    // surrogate pair, with a cut mark on each side that was cut.
    void rowsOfLongLines() {
        const auto a = [](int n) { return QString(n, QLatin1Char('a')); };
        const auto b = [](int n) { return QString(n, QLatin1Char('b')); };
        const QString cut(QChar(0x2026));
        const QString face = QStringLiteral("\U0001F600");
        struct Case {
            QString line;
            QString shown;
            int column;
        };
        const Case cases[] = {
            {QStringLiteral("X") + a(159), QStringLiteral("X") + a(159), 0},
            {QStringLiteral("X") + a(160), QStringLiteral("X") + a(159) + cut, 0},
            {a(160) + QStringLiteral("X"), cut + a(159) + QStringLiteral("X"), 160},
            {a(100) + QStringLiteral("X") + b(100), cut + a(59) + QStringLiteral("X") + b(100), 100},
            {a(100) + QStringLiteral("X") + b(200), cut + a(40) + QStringLiteral("X") + b(119) + cut, 100},
            {QStringLiteral("\t\t  X") + a(200), QStringLiteral("X") + a(159) + cut, 4},
            {QStringLiteral("  a\tX\x01"), QStringLiteral("a X "), 4},
            {a(59) + face + a(39) + QStringLiteral("X") + b(200), cut + a(39) + QStringLiteral("X") + b(120) + cut, 100},
            {QStringLiteral("X") + a(158) + face + b(10), QStringLiteral("X") + a(158) + cut, 0},
        };
        for (const Case &c : cases) {
            std::vector<TSearchRow> rows;
            TProjectSearch::SearchText(QStringLiteral("f.c"), QStringLiteral("x\r\n") + c.line, QStringLiteral("X"),
                                       search::Options{true, false}, [&](TSearchRow &&r) { rows.push_back(r); });
            QCOMPARE(rows.size(), size_t(1));
            QCOMPARE(rows[0].Text, QStringLiteral("f.c 2: ") + c.shown);
            QCOMPARE(rows[0].Line, 2);
            QCOMPARE(rows[0].Column, c.column);
            QCOMPARE(rows[0].Length, 1);
        }
        // A long text is searched a piece at a time: every line counted across.
        std::vector<TSearchRow> rows;
        QString many;
        const int count = 60000;
        for (int k = 0; k < count; ++k)
            many += QString(k % 50, QLatin1Char('a')) + QStringLiteral("X") + (k % 3 ? QStringLiteral("\r\n") : QStringLiteral("\r"));
        QVERIFY(many.size() > 3 << 19);
        int next = 0;
        TProjectSearch::SearchText(QStringLiteral("f.c"), many, QStringLiteral("x"), {}, [&](TSearchRow &&r) {
            if (r.Line == next + 1 && r.Column == next % 50) ++next;
        });
        QCOMPARE(next, count);
        // A match across the first megabyte's end is found, on its own line.
        QString across = QStringLiteral("b\r\n").repeated((1 << 20) / 3 - 10);
        across += QString((1 << 20) - 2 - across.size(), QLatin1Char('b')) + QStringLiteral("aaaaX b\r\nX");
        rows.clear();
        TProjectSearch::SearchText(QStringLiteral("f.c"), across, QStringLiteral("aaaax"), {},
                                   [&](TSearchRow &&r) { rows.push_back(r); });
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(rows[0].Line, (1 << 20) / 3 - 9);
        QCOMPARE(rows[0].Column, 29);
        // A paragraph separator (typed into a document) ends a line too.
        rows.clear();
        TProjectSearch::SearchText(QStringLiteral("f.c"), QStringLiteral("aX\u2029X\rbX\nX"), QStringLiteral("x"), {},
                                   [&](TSearchRow &&r) { rows.push_back(r); });
        QStringList texts;
        for (const TSearchRow &r : rows) texts << QStringLiteral("%1 %2:%3").arg(r.Text).arg(r.Line).arg(r.Column);
        QCOMPARE(texts, (QStringList{QStringLiteral("f.c 1: aX 1:1"), QStringLiteral("f.c 2: X 2:0"),
                                     QStringLiteral("f.c 3: bX 3:1"), QStringLiteral("f.c 4: X 4:0")}));
    }

    // The rows from a file's bytes are those of the whole file decoded and
    // searched line by line: random files and texts, with and without match
    // case and whole word.
    void bytesGiveTheRowsOfTheDecodedText() {
        RandomSjis random(20240611);
        const QString file = QStringLiteral("/p/f.c");
        int compared = 0, found = 0;
        for (int round = 0; round < 400; ++round) {
            const QByteArray bytes = random.File();
            for (int k = 0; k < 6; ++k) {
                search::Options o;
                o.MatchCase = random.Below(2);
                o.WholeWord = random.Below(4) == 0;
                const QString pattern = random.Pattern(bytes, o.MatchCase);
                std::vector<TSearchRow> rows;
                TProjectSearch::SearchBytes(file, bytes, sjis::BytePattern(pattern, o.MatchCase), pattern, o,
                                            [&](TSearchRow &&r) { rows.push_back(std::move(r)); });
                const std::vector<Want> want = Reference(file, bytes, pattern, o);
                const auto what = [&] {
                    QString codes;
                    for (QChar c : pattern) codes += QString::number(c.unicode(), 16) + QLatin1Char(' ');
                    return QStringLiteral("text %1(case %2, word %3) in %4").arg(codes).arg(o.MatchCase).arg(o.WholeWord)
                        .arg(QString::fromLatin1(bytes.toHex(' ')));
                };
                QVERIFY2(Wants(rows) == want, qPrintable(Difference(Wants(rows), want) + QLatin1Char(' ') + what()));
                for (const TSearchRow &r : rows) {
                    QCOMPARE(r.Path, file);
                    QCOMPARE(r.Length, int(pattern.size()));
                }
                // An open document's text gives the same rows.
                rows.clear();
                TProjectSearch::SearchText(file, sjis::decode(bytes), pattern, o,
                                           [&](TSearchRow &&r) { rows.push_back(std::move(r)); });
                QVERIFY2(Wants(rows) == want, qPrintable(Difference(Wants(rows), want) + QLatin1Char(' ') + what()));
                ++compared;
                found += !want.empty();
            }
        }
        QVERIFY2(found > compared / 3, qPrintable(QStringLiteral("%1 of %2").arg(found).arg(compared)));

        // A file of over a megabyte: a match across the place where the scan
        // stops to look at the stop flag, line ends counted over long stretches.
        QByteArray big;
        while (big.size() < 1200000) {
            const QByteArray line = random.Line();
            big += line.contains('\r') || line.contains('\n') ? QByteArray("x") : line;
            big += random.End();
            const qsizetype mark = qsizetype(1) << 20;
            if (big.size() > mark - 200 && big.size() < mark - 3)
                big += QByteArray(int(mark - 3 - big.size()), ' ') + "Needle\r\n\x81\x81\x81\x81Needle\n";
        }
        QVERIFY(big.indexOf("Needle") == (qsizetype(1) << 20) - 3);
        for (const QString &pattern : {QStringLiteral("needle"), QStringLiteral("ソ")}) {
            std::vector<TSearchRow> rows;
            TProjectSearch::SearchBytes(file, big, sjis::BytePattern(pattern, false), pattern, {},
                                        [&](TSearchRow &&r) { rows.push_back(std::move(r)); });
            const std::vector<Want> want = Reference(file, big, pattern, {});
            QVERIFY(!want.empty());
            QVERIFY2(Wants(rows) == want, qPrintable(Difference(Wants(rows), want)));
            rows.clear();
            TProjectSearch::SearchText(file, sjis::decode(big), pattern, {},
                                       [&](TSearchRow &&r) { rows.push_back(std::move(r)); });
            QVERIFY2(Wants(rows) == want, qPrintable(Difference(Wants(rows), want)));
        }
    }

    // Without match case a character is found in every code of every
    // character that QString's caseless comparison holds equal to it; with
    // match case in every code of its own. Each character of code page 932
    // that has a partner or more than one code, and every 40th of the rest,
    // looked for in a file of every code, one a line.
    void everyCodeOfEqualCharacters() {
        QByteArray bytes;
        QString chars;  // the character of each line
        for (int code = 0; code <= 0xFCFC; ++code) {
            const QByteArray one = Code(quint16(code));
            if (code <= 0xFF ? (code == '\r' || code == '\n') : !sjis::IsLeadByte(uchar(code >> 8)) ||
                                                                     !sjis::IsTrailByte(uchar(code)))
                continue;
            const QString c = sjis::decode(one);
            if (c.size() != 1 || sjis::isEscapedByte(c[0])) continue;  // no character
            QVERIFY(c[0] != QLatin1Char('\r') && c[0] != QLatin1Char('\n') && c[0] != QChar::ParagraphSeparator);
            bytes += one + "\n";
            chars += c;
        }
        QVERIFY(chars.size() > 7000);
        std::vector<int> order(size_t(chars.size()));
        std::iota(order.begin(), order.end(), 0);
        const QChar *ch = chars.constData();
        const auto caseless = [&](int a, int b) {
            return QStringView(ch + a, 1).compare(QStringView(ch + b, 1), Qt::CaseInsensitive);
        };
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return caseless(a, b) < 0; });
        const auto linesOf = [&](const QString &pattern, bool matchCase) {
            std::vector<int> lines;
            search::Options o;
            o.MatchCase = matchCase;
            TProjectSearch::SearchBytes(QStringLiteral("all"), bytes, sjis::BytePattern(pattern, matchCase), pattern, o,
                                        [&](TSearchRow &&r) { lines.push_back(r.Line - 1); });
            return lines;
        };
        int classes = 0, checked = 0;
        for (size_t from = 0; from < order.size();) {
            size_t to = from + 1;
            while (to < order.size() && caseless(order[from], order[to]) == 0) ++to;
            std::vector<int> equal(order.begin() + qsizetype(from), order.begin() + qsizetype(to));
            std::sort(equal.begin(), equal.end());
            if (equal.size() > 1 || from % 40 == 0) {
                ++classes;
                for (int line : equal) {
                    const QString c(ch[line]);
                    QCOMPARE(linesOf(c, false), equal);
                    std::vector<int> same;
                    for (int l : equal)
                        if (ch[l] == c[0]) same.push_back(l);
                    QCOMPARE(linesOf(c, true), same);
                    ++checked;
                }
            }
            from = to;
        }
        QVERIFY(classes > 300);
        // Among them: A a Ａ ａ, Greek, Cyrillic, the Roman numerals.
        QCOMPARE(linesOf(QStringLiteral("ａ"), false).size(), size_t(2));
        QCOMPARE(linesOf(QStringLiteral("Ж"), false).size(), size_t(2));
        QCOMPARE(linesOf(QStringLiteral("Σ"), false).size(), size_t(2));
        QCOMPARE(linesOf(QStringLiteral("ⅱ"), false).size(), size_t(4));  // EEF0 FA41; 8755 FA4B
        QCOMPARE(linesOf(QStringLiteral("ⅱ"), true).size(), size_t(2));
    }

    // The search itself on random files on disk, some that cannot be read and
    // one open in an editor, with every thread at work: the rows of each file in
    // tree order and line order, and the count row.
    void everyThreadListsInTreeOrder() {
        RandomSjis random(99);
        std::vector<QByteArray> contents;
        std::vector<TSearchSource> sources;
        TTextStore open;
        for (int i = 0; i < 90; ++i) {
            TSearchSource s;
            s.Path = path(QStringLiteral("f%1.c").arg(i));
            QByteArray bytes;
            for (int n = random.Below(i % 9 == 0 ? 60 : 6); n >= 0; --n) bytes += random.File() + "\r\n";
            contents.push_back(bytes);
            if (i % 17 == 5) {
                contents.back() = "<missing>";  // never written
            } else {
                QVERIFY(qvtest::WriteFile(s.Path, bytes));
            }
            if (i == 40) {
                sourcetext::Load(&open, bytes);
                s.Open = true;
                s.Text = open.Snapshot();
                QVERIFY(qvtest::WriteFile(s.Path, "int int int"));  // not what is searched
            }
            sources.push_back(s);
        }
        TProjectSearch search;
        std::vector<TSearchRow> rows;
        int finished = 0, matches = -1, files = -1;
        search.OnRows = [&](const std::vector<TSearchRow> &r) { rows.insert(rows.end(), r.begin(), r.end()); };
        search.OnFinished = [&](int m, int f, bool cancelled) {
            ++finished;
            matches = m;
            files = f;
            QVERIFY(!cancelled);
        };
        for (const QString &pattern : {QStringLiteral("int"), QStringLiteral("ｱ"), QStringLiteral("\\"), QStringLiteral("Ⅰ")}) {
            for (bool word : {false, true}) {
                search::Options o;
                o.WholeWord = word;
                rows.clear();
                finished = 0;
                for (TSearchSource &s : sources)
                    if (s.Open) s.Text = open.Snapshot();  // handed over again for each search
                search.Start(sources, pattern, o);
                QVERIFY(QTest::qWaitFor([&] { return finished > 0; }, 60000));
                QCOMPARE(finished, 1);
                std::vector<Want> want;
                int wantMatches = 0, wantFiles = 0;
                for (size_t i = 0; i < sources.size(); ++i) {
                    if (contents[i] == "<missing>") {
                        want.push_back({QStringLiteral("* ファイル %1 を開けません").arg(sources[i].Path), 0, 0});
                        continue;
                    }
                    const std::vector<Want> w = Reference(sources[i].Path, contents[i], pattern, o);
                    want.insert(want.end(), w.begin(), w.end());
                    wantMatches += int(w.size());
                    wantFiles += !w.empty();
                }
                want.push_back({QStringLiteral("- 「%1」: %2 件、%3 ファイル (検索したファイル 90)")
                                    .arg(pattern).arg(wantMatches).arg(wantFiles), 0, 0});
                QVERIFY2(Wants(rows) == want, qPrintable(Difference(Wants(rows), want)));
                QCOMPARE(matches, wantMatches);
                QCOMPARE(files, wantFiles);
                QVERIFY(wantMatches > 10);
            }
        }
    }

    // The Edit menu's commands through their keys on the active document.
    void editMenuCommands() {
        QVERIFY(!form->FindItem->isEnabled());
        QVERIFY(!form->GoToLineItem->isEnabled());
        QVERIFY(qvtest::WriteFile(path("m.c"), "int a;\r\nchar b;\r\nint c;\r\n"));
        form->OpenDocument(path("m.c"));
        TMDIChild *doc = form->ActiveMDIChild();
        QVERIFY(doc);
        for (QAction *a : {form->FindItem, form->FindNextItem, form->FindPrevItem, form->ReplaceItem, form->GoToLineItem})
            QVERIFY(a->isEnabled());
        TRichEdit *e = doc->RichEdit1;
        e->setFocus();
        SetSelection(e, 0, 3);
        QTest::keyClick(e, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(form->Finder->FindDialog && form->Finder->FindDialog->isVisible() && !form->Finder->FindDialog->isModal());
        QCOMPARE(form->Finder->FindDialog->FindText->text(), QStringLiteral("int"));
        form->FindNextItem->trigger();
        QCOMPARE(SelStart(e), 17);
        form->FindNextItem->trigger();
        QCOMPARE(SelStart(e), 0);
        QCOMPARE(form->StatusText(), QStringLiteral("末尾まで検索したので、先頭から検索しました"));
        form->FindPrevItem->trigger();
        QCOMPARE(SelStart(e), 17);
        // F3 works in the dialog as well.
        form->Finder->FindDialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form->Finder->FindDialog));
        QTest::keyClick(form->Finder->FindDialog->FindText, Qt::Key_F3);
        QCOMPARE(SelStart(e), 0);
        QTest::keyClick(form->Finder->FindDialog->FindText, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(SelStart(e), 17);
        form->Finder->FindDialog->close();
        // Replace: Ctrl+H shows the replace part.
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        e->setFocus();
        QTest::keyClick(e, Qt::Key_H, Qt::ControlModifier);
        QVERIFY(form->Finder->FindDialog->ReplaceText->isVisible());
        QCOMPARE(TextOf(e), QStringLiteral("int a;\r\nchar b;\r\nint c;\r\n"));  // Ctrl+H deleted nothing
        form->Finder->FindDialog->ReplaceText->setText(QStringLiteral("long"));
        form->Finder->FindDialog->ReplaceAllClick();
        QCOMPARE(TextOf(e), QStringLiteral("long a;\r\nchar b;\r\nlong c;\r\n"));
        QVERIFY(doc->Changed);
        form->Finder->FindDialog->close();

        // Go to line: a number from 1 to the line count; Cancel changes nothing.
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        int maximum = 0;
        AnswerModal(form.get(), [&](QDialog &d) {
            auto *g = qobject_cast<TGoToLineDialog *>(&d);
            maximum = g->Line->maximum();
            g->Line->setValue(99);  // held to the last line
            d.accept();
        });
        QTest::keyClick(e, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(maximum, 4);
        QCOMPARE(SelStart(e), 27);
        QCOMPARE(SelLength(e), 0);
        AnswerModal(form.get(), [&](QDialog &d) {
            qobject_cast<TGoToLineDialog *>(&d)->Line->setValue(2);
            d.accept();
        });
        form->GoToLineItem->trigger();
        QCOMPARE(SelStart(e), 9);
        QCOMPARE(SelLength(e), 9);
        AnswerModal(form.get(), [&](QDialog &d) {
            qobject_cast<TGoToLineDialog *>(&d)->Line->setValue(1);
            d.reject();
        });
        form->GoToLineItem->trigger();
        QCOMPARE(SelStart(e), 9);

        // Find in the project through its dialog, the selection as its text.
        addFile(path("m.c"));
        SetSelection(e, 9, 4);
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        e->setFocus();
        AnswerModal(form.get(), [&](QDialog &d) {
            auto *p = qobject_cast<TProjectFindDialog *>(&d);
            QCOMPARE(p->FindText->text(), QStringLiteral("char"));
            d.accept();
        });
        QTest::keyClick(e, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(waitDone());
        QCOMPARE(rows(), (QStringList{path("m.c") + QStringLiteral(" 2: char b;"),
                                      QStringLiteral("- 「char」: 1 件、1 ファイル (検索したファイル 1)")}));
        AnswerModal(form.get(), [](QDialog &d) { d.reject(); });
        form->ProjFindItem->trigger();
        QCOMPARE(rows().size(), 2);
        for (int i = 0; i < form->MDIChildCount(); ++i) form->MDIChildren(i)->Changed = false;
    }
};

QV_TEST_MAIN(TstProjectSearch)
#include "tst_projectsearch.moc"
