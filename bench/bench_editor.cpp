// The editor against two other text controls in the same process: QScintilla
// (where it is installed) with its own C lexer, and a bare QPlainTextEdit.
// Loading a large C file and colouring all of it, the memory that takes, one keystroke with its repaint at several places, a
// keystroke in a 1 MB line; and saving a 50 MB file back byte for byte.
//
// Each contender loads the same file in turn, the order alternating from round
// to round; the figures are medians over the rounds (keystrokes: over every
// key of every round). Ratios are against
// QScintilla (against the bare control where QScintilla is left out).
//
// QV_BENCH_CFILE names a real C file of a few MB for the load cases (for
// example /usr/share/duktape/duktape.c of Debian's duktape-dev): the file
// itself, and files of 50 and 200 MB made of copies of it (the bare control,
// which colours nothing, is left out of those). Without it that part is
// skipped. QV_BENCH_KEYS=N types N keys at each place instead of 100.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>
#include <malloc.h>

#ifdef QV_HAVE_QSCINTILLA
#include <Qsci/qscilexercpp.h>
#include <Qsci/qsciscintilla.h>
#endif

#include "bench.h"
#include "childwin.h"
#include "colouring.h"
#include "richedit.h"
#include "sjis.h"
#include "sourcetext.h"
#include "textstore.h"

namespace {

constexpr int kRounds = 5;
// Keystrokes at each place in each round (QV_BENCH_KEYS for fewer: in 200 MB
// a contender may take seconds for each).
int Keys() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("QV_BENCH_KEYS", &ok);
    return ok && n > 0 ? n : 100;
}

// A C file of about `size` bytes: functions with keywords, block and line
// comments (some in Japanese), preprocessor lines and long expressions.
QByteArray MakeCFile(qsizetype size) {
    QByteArray jp;
    sjis::encode(QStringLiteral("/* 日本語のコメント: 値を返す */\r\n"), jp);
    QByteArray out;
    out.reserve(size + 4096);
    out += "#include <stdio.h>\r\n#include \"local.h\"\r\n\r\n";
    for (int f = 0; out.size() < size; ++f) {
        const QByteArray n = QByteArray::number(f);
        out += "/*\r\n * function " + n + "\r\n */\r\n";
        out += "static unsigned long func" + n + "(int a, const char *s)\r\n{\r\n";
        out += "    register int i; long total = 0; // running sum\r\n";
        out += "    for (i = 0; i < a; i++) {\r\n";
        out += "        if (s[i] == 'x') continue; else total += s[i] * " + n + ";\r\n";
        out += "    }\r\n";
        out += jp;
        out += "    switch (a) { case 1: break; default: return sizeof(struct tag" + n + "); }\r\n";
        out += "#ifdef DEBUG\r\n    printf(\"%ld\\n\", total);\r\n#endif\r\n";
        out += "    return total;\r\n}\r\n\r\n";
    }
    return out;
}

bool WriteFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()) return true;
    std::printf("cannot write %s\n", qPrintable(path));
    return false;
}

QByteArray ReadFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The font and size of a document window's text control, for the others too.
struct TLook {
    QFont Font;
    QSize Size;
};

TLook DocumentLook() {
    TMDIChild w;
    w.show();
    QApplication::processEvents();
    return {w.RichEdit1->font(), w.RichEdit1->size()};
}

// One text control under test.
class TContender {
public:
    virtual ~TContender() = default;
    // Reads the file and shows its text (the first paint follows outside).
    virtual void Load(const QString &path) = 0;
    // The control that takes the keys and paints.
    virtual QAbstractScrollArea *View() = 0;
    // Puts the caret at a column (characters) of a line (0-based) and scrolls it into view.
    virtual void PlaceCaret(int line, int column) = 0;
    // What the load itself took apart from reading and decoding, in s.
    double SetOnly = 0;
};

// The document window: read, decode and colour the whole text (the colour of
// the last character is asked for, so the colouring has reached the end).
class TOurs : public TContender {
public:
    TOurs() { W.show(); }
    void Load(const QString &path) override {
        W.LoadFile(path);
        const int length = W.RichEdit1->Text()->Length();
        if (length > 0) LastColour = ColourAt(W.RichEdit1, length - 1);
    }
    QColor LastColour;
    QAbstractScrollArea *View() override { return W.RichEdit1; }
    void PlaceCaret(int line, int column) override {
        SetSelection(W.RichEdit1, W.RichEdit1->Text()->LineStart(line) + column, 0);
        W.RichEdit1->ensureCursorVisible();
    }
    TMDIChild W;
};

// The same decoded text in a bare QPlainTextEdit, no colours.
class TBare : public TContender {
public:
    explicit TBare(const TLook &look) {
        E.setLineWrapMode(QPlainTextEdit::NoWrap);
        E.setFont(look.Font);
        E.resize(look.Size);
        E.show();
    }
    void Load(const QString &path) override {
        const QString text = sourcetext::Decode(ReadFile(path)).Text;
        const double t = bench::seconds();
        E.setPlainText(text);
        SetOnly = bench::seconds() - t;
    }
    QAbstractScrollArea *View() override { return &E; }
    void PlaceCaret(int line, int column) override {
        QTextCursor c(E.document()->findBlockByNumber(line));
        c.setPosition(c.position() + column);
        E.setTextCursor(c);
        E.ensureCursorVisible();
    }
    QPlainTextEdit E;
};

#ifdef QV_HAVE_QSCINTILLA
// The same decoded text in QScintilla with its C lexer, loaded as an editor
// opens a file: without recording the text for undo; then the lexer colours
// all of it, the same work as ours.
class TScintilla : public TContender {
public:
    explicit TScintilla(const TLook &look) {
        E.setUtf8(true);
        E.setLexer(&Lexer);
        E.setFont(look.Font);
        E.setWrapMode(QsciScintilla::WrapNone);
        E.resize(look.Size);
        E.show();
    }
    void Load(const QString &path) override {
        const QString text = sourcetext::Decode(ReadFile(path)).Text;
        const double t = bench::seconds();
        E.SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0UL);
        E.setText(text);
        E.SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 1UL);
        E.SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
        E.SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, long(-1));
        SetOnly = bench::seconds() - t;
    }
    QAbstractScrollArea *View() override { return &E; }
    void PlaceCaret(int line, int column) override {
        E.setCursorPosition(line, column);
        E.ensureCursorVisible();
    }
    QsciLexerCPP Lexer;  // before the control, which must not outlive it
    QsciScintilla E;
};
#endif

struct TEntry {
    const char *Name;
    std::function<std::unique_ptr<TContender>()> Make;
};

// QV_BENCH_ONLY=ours (or another name) leaves the others out, for profiling
// one control; ratios are then against the first one left.
std::vector<TEntry> Contenders(const TLook &look, bool bare = true) {
    std::vector<TEntry> list;
    list.push_back({"ours", [] { return std::unique_ptr<TContender>(new TOurs); }});
#ifdef QV_HAVE_QSCINTILLA
    list.push_back({"QScintilla", [look] { return std::unique_ptr<TContender>(new TScintilla(look)); }});
#endif
    if (bare) list.push_back({"QPlainTextEdit", [look] { return std::unique_ptr<TContender>(new TBare(look)); }});
    const QString only = qEnvironmentVariable("QV_BENCH_ONLY");
    if (!only.isEmpty())
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const TEntry &e) { return QLatin1String(e.Name) != only; }),
                   list.end());
    return list;
}

// The contender that ratios are taken against: QScintilla where it is there,
// else the last one.
size_t Reference(const std::vector<TEntry> &list) {
    for (size_t i = 0; i < list.size(); ++i)
        if (QLatin1String(list[i].Name) == QLatin1String("QScintilla")) return i;
    return list.size() - 1;
}

// The order of the contenders in round r: forwards, then backwards.
std::vector<size_t> Order(size_t count, int round) {
    std::vector<size_t> order;
    for (size_t i = 0; i < count; ++i) order.push_back(round % 2 ? count - 1 - i : i);
    return order;
}

// One keystroke and its repaint, in ms: an x, every tenth a blank.
// One keystroke and the repaint it asks for (delivered at once), in ms, and
// then, in full, a repaint of the whole view: an x, every tenth a blank.
double Keystroke(QAbstractScrollArea *view, int i, double &full) {
    QElapsedTimer t;
    t.start();
    QTest::keyClick(view, i % 10 == 9 ? Qt::Key_Space : Qt::Key_X);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    view->viewport()->repaint();
    full = double(t.nsecsElapsed()) / 1e6;
    QApplication::processEvents();
    return ms;
}

// n keystrokes at a place, each in ms, added to ms; the full repaints to full.
void Keystrokes(TContender &c, int line, int column, int n, std::vector<double> &ms, std::vector<double> &full) {
    QAbstractScrollArea *view = c.View();
    view->activateWindow();
    view->setFocus();
    c.PlaceCaret(line, column);
    QApplication::processEvents();
    for (int i = 0; i < n; ++i) {
        double f = 0;
        ms.push_back(Keystroke(view, i, f));
        full.push_back(f);
    }
}

double Mean(const std::vector<double> &v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

struct TPlace {
    const char *Name;
    int Line, Column;
};

// Start, middle and end of the text, and inside a comment in the second half.
std::vector<TPlace> Places(const QByteArray &bytes) {
    TTextStore store;
    sourcetext::Load(&store, bytes);
    const int last = store.LineCount() - 1;
    std::vector<TPlace> places{{"start", 0, 0}, {"middle", last / 2, 0}, {"end", last, store.LineLength(last)}};
    for (int line = last / 2; line <= last; ++line) {
        const QString text = store.Line(line);
        const int open = int(text.indexOf(QLatin1String("/*")));
        const int star = int(text.indexOf(QLatin1String(" * ")));
        if (open >= 0 && text.indexOf(QLatin1String("*/"), open + 2) > open + 3) {
            places.push_back({"comment", line, open + 3});
            break;
        }
        if (star >= 0 && text.left(star).trimmed().isEmpty()) {
            places.push_back({"comment", line, star + 3});
            break;
        }
    }
    return places;
}

// Loads the file into each contender kRounds times, the order alternating:
// the time to the first paint, the memory at the peak and after, and the
// keystrokes at each place.
void CompareLoads(const QString &path, bool bare = true) {
    const QByteArray bytes = ReadFile(path);
    const double size = double(bytes.size());
    const std::vector<TPlace> places = Places(bytes);
    const std::vector<TEntry> list = Contenders(DocumentLook(), bare);
    const size_t ref = Reference(list);
    struct Figures {
        std::vector<double> Load, Set, Peak, After, Heap;
        std::vector<std::vector<double>> Keys, Full;
    };
    std::vector<Figures> fig(list.size());
    for (auto &f : fig) {
        f.Keys.resize(places.size());
        f.Full.resize(places.size());
    }
    const int kKeys = Keys();
    std::printf("%s: %.1f MB, %d lines, %d rounds, %d keys a place a round\n", qPrintable(path), size / 1048576.0,
                places[2].Line + 1, kRounds, kKeys);
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i : Order(list.size(), round)) {
            malloc_trim(0);
            std::unique_ptr<TContender> c = list[i].Make();
            QApplication::processEvents();
            malloc_trim(0);
            const long rss0 = bench::residentKiB(), heap0 = bench::heapBytes();
            bench::resetPeak();
            const double t0 = bench::seconds();
            c->Load(path);
            QApplication::processEvents();  // the first paint
            const double load = bench::seconds() - t0;
            const long peak = bench::peakKiB();
            fig[i].Load.push_back(load);
            fig[i].Set.push_back(c->SetOnly);
            fig[i].Peak.push_back(peak < 0 ? -1 : (peak - rss0) * 1024.0 / size);
            malloc_trim(0);  // what the control keeps, not what the load left free
            fig[i].After.push_back((bench::residentKiB() - rss0) * 1024.0 / size);
            fig[i].Heap.push_back(double(bench::heapBytes() - heap0) / size);
            for (size_t p = 0; p < places.size(); ++p)
                Keystrokes(*c, places[p].Line, places[p].Column, kKeys, fig[i].Keys[p], fig[i].Full[p]);
        }
    }
    const double refLoad = bench::median(fig[ref].Load);
    std::printf("load and colour all, to the first paint (ours: LoadFile and the colour of the last character; QScintilla: "
                "read, decode, set the text, its C lexer colours all; QPlainTextEdit: read, decode, set the text, no "
                "colours), median of %d:\n",
                kRounds);
    for (size_t i = 0; i < list.size(); ++i) {
        const double load = bench::median(fig[i].Load);
        std::printf("  %-15s %7.3f s  ratio %.2f", list[i].Name, load, load / refLoad);
        if (i) std::printf("  (setting the text and colouring alone %.3f s)", bench::median(fig[i].Set));
        std::printf("\n");
    }
    std::printf("  target ours <= 0.5 x QScintilla: %s\n",
                bench::median(fig[0].Load) <= 0.5 * refLoad ? "met" : "NOT met");
    std::printf("memory for the load, x the file size (median): peak RSS, RSS after, heap after\n");
    for (size_t i = 0; i < list.size(); ++i)
        std::printf("  %-15s peak %5.1f  after %5.1f  heap %5.1f\n", list[i].Name, bench::median(fig[i].Peak),
                    bench::median(fig[i].After), bench::median(fig[i].Heap));
    std::printf("  target ours <= 4 x during and after: %s\n",
                std::max(bench::median(fig[0].Peak), bench::median(fig[0].After)) <= 4 ? "met" : "NOT met");
    std::printf("one keystroke with its repaint, ms: median (mean) of %d keys over the rounds\n", kKeys * kRounds);
    for (size_t p = 0; p < places.size(); ++p) {
        std::printf("  %-8s (line %6d)", places[p].Name, places[p].Line + 1);
        for (size_t i = 0; i < list.size(); ++i)
            std::printf("  %s %.3f (%.3f)", list[i].Name, bench::median(fig[i].Keys[p]), Mean(fig[i].Keys[p]));
        const double ours = bench::median(fig[0].Keys[p]);
        std::printf("  ratio %.2f; target ours <= 0.1 ms: %s\n", ours / bench::median(fig[ref].Keys[p]),
                    ours <= 0.1 ? "met" : "NOT met");
    }
    std::printf("after each keystroke, a repaint of the whole view, ms: median (mean)\n");
    for (size_t p = 0; p < places.size(); ++p) {
        std::printf("  %-8s", places[p].Name);
        for (size_t i = 0; i < list.size(); ++i)
            std::printf("  %s %.3f (%.3f)", list[i].Name, bench::median(fig[i].Full[p]), Mean(fig[i].Full[p]));
        std::printf("  ratio %.2f\n", bench::median(fig[0].Full[p]) / bench::median(fig[ref].Full[p]));
    }
}

}  // namespace

QV_BENCH(editor_load_and_colour_10MB) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.c"));
    if (!WriteFile(path, MakeCFile(10 * 1024 * 1024))) return;
    CompareLoads(path);
}

// The real file, then 50 and 200 MB of copies of it (QV_BENCH_MB=50 or 200
// takes one size alone; 0 the real file alone).
QV_BENCH(editor_load_and_colour_real_file_50_200MB) {
    const QString path = qEnvironmentVariable("QV_BENCH_CFILE");
    if (path.isEmpty() || !QFile::exists(path)) {
        std::printf("skipped: QV_BENCH_CFILE names no file (try /usr/share/duktape/duktape.c from duktape-dev)\n");
        return;
    }
    const QString only = qEnvironmentVariable("QV_BENCH_MB");
    if (only.isEmpty() || only == QLatin1String("0")) CompareLoads(path);
    const QByteArray real = ReadFile(path);
    if (real.isEmpty()) return;
    for (int mb : {50, 200}) {
        if (!only.isEmpty() && only != QString::number(mb)) continue;
        QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/qv_bench_load_XXXXXX"));
        const QString big = dir.filePath(QStringLiteral("copies.c"));
        QByteArray bytes;
        bytes.reserve(qsizetype(mb) << 20);
        while (bytes.size() < (qsizetype(mb) << 20)) bytes += real;
        if (!WriteFile(big, bytes)) return;
        bytes = QByteArray();
        CompareLoads(big, false);
    }
}

QV_BENCH(editor_load_save_identical_50MB) {
    // A 50 MB file comes back byte for byte.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.c"));
    const QByteArray bytes = MakeCFile(50 * 1024 * 1024);
    if (!WriteFile(path, bytes)) return;
    auto *w = new TMDIChild;
    double t0 = bench::seconds();
    w->LoadFile(path);
    const double load = bench::seconds() - t0;
    t0 = bench::seconds();
    const QString copy = dir.filePath(QStringLiteral("copy.c"));
    w->SaveAs(copy);
    const double save = bench::seconds() - t0;
    const bool same = ReadFile(copy) == bytes;
    std::printf("50 MB: load and colour %.3f s, save %.3f s, identical: %s\n", load, save, same ? "yes" : "NO");
    delete w;
}

QV_BENCH(editor_keystroke_1MB_line) {
    // The caret's line is the range of the edit-time colouring, so a keystroke
    // in a 1 MB line costs a pass over that line on top of the repaint.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.c"));
    QByteArray line;
    while (line.size() < (1 << 20)) line += "int x = y; /* c */ ";
    if (!WriteFile(path, line)) return;
    const std::vector<TEntry> list = Contenders(DocumentLook());
    const size_t ref = Reference(list);
    const int keys = 10;
    std::vector<std::vector<double>> ms(list.size());
    std::vector<double> colour;
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i : Order(list.size(), round)) {
            std::unique_ptr<TContender> c = list[i].Make();
            c->Load(path);
            QApplication::processEvents();
            std::vector<double> each, full;
            Keystrokes(*c, 0, int(line.size() / 2), keys, each, full);
            ms[i].push_back(Mean(each));
            if (auto *ours = dynamic_cast<TOurs *>(c.get())) {
                // The colouring of the caret's line alone.
                const double t0 = bench::seconds();
                ours->W.RichEdit1Change();
                colour.push_back((bench::seconds() - t0) * 1e3);
            }
        }
    }
    std::printf("keystroke with repaint in a 1 MB line, ms (median over %d rounds of the mean of %d keys):\n", kRounds, keys);
    for (size_t i = 0; i < list.size(); ++i)
        std::printf("  %-15s %8.3f  ratio %.2f\n", list[i].Name, bench::median(ms[i]),
                    bench::median(ms[i]) / bench::median(ms[ref]));
    std::printf("  ours: the colouring of the line alone %.3f ms; target ours <= %s: %s\n", bench::median(colour),
                list[ref].Name, bench::median(ms[0]) <= bench::median(ms[ref]) ? "met" : "NOT met");
}
