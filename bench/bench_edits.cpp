// The document window's edits at any size, each figure against its target in
// the same run: one keystroke with its repaint at the start, the middle, the
// end and inside a comment of 10, 50 and 200 MB files, and again after 500
// places have had 100 characters typed at each; a keystroke and a caret blink
// in a line of 10 million characters; replace all of 200,000 matches in a
// 50 MB file; and Save of a 50 MB file against cp and sync of it.
//
// The files are made from QV_BENCH_CFILE (a real C file of a few MB, for
// example /usr/share/duktape/duktape.c from Debian's duktape-dev) copied end
// to end, or from the generated C text when it is not given.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <vector>

#include "bench.h"
#include "childwin.h"
#include "colourstore.h"
#include "finddialog.h"
#include "richedit.h"
#include "sourcetext.h"

namespace {

// A C file of about `size` bytes: the real file given, copied end to end, or
// generated functions with comments (some in Japanese).
QByteArray CFile(qsizetype size) {
    static QByteArray real = [] {
        const QString path = qEnvironmentVariable("QV_BENCH_CFILE");
        QFile f(path);
        return !path.isEmpty() && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QByteArray out;
    out.reserve(size + 8192);
    if (!real.isEmpty()) {
        while (out.size() < size) out += real;
        return out;
    }
    QByteArray jp;
    sjis::encode(QStringLiteral("/* 日本語のコメント: 値を返す */\r\n"), jp);
    for (int f = 0; out.size() < size; ++f) {
        const QByteArray n = QByteArray::number(f);
        out += "/*\r\n * function " + n + "\r\n */\r\nstatic unsigned long func" + n + "(int a, const char *s)\r\n{\r\n";
        out += "    register int i; long total = 0; // running sum\r\n    for (i = 0; i < a; i++) {\r\n";
        out += "        if (s[i] == 'x') continue; else total += s[i] * " + n + ";\r\n    }\r\n" + jp;
        out += "    return total;\r\n}\r\n\r\n";
    }
    return out;
}

bool Write(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A document window with the file loaded and wholly coloured.
std::unique_ptr<TMDIChild> Open(const QString &path) {
    auto w = std::make_unique<TMDIChild>();  // at the size of its layout
    w->show();
    w->LoadFile(path);
    TRichEdit *e = w->RichEdit1;
    ColourAt(e, TextLength(e) - 1);
    w->activateWindow();
    e->setFocus();
    QApplication::processEvents();
    return w;
}

// One keystroke and the repaint it asks for (delivered at once), in ms: an
// x, every tenth a blank.
double Keystroke(TRichEdit *e, int i) {
    QElapsedTimer t;
    t.start();
    QTest::keyClick(e, i % 10 == 9 ? Qt::Key_Space : Qt::Key_X);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    QApplication::processEvents();
    return ms;
}

struct TPlace {
    const char *Name;
    int Position;
};

// Start, middle and end of the text, and inside a comment in its second half.
std::vector<TPlace> Places(const TTextStore *t) {
    const int last = t->LineCount() - 1;
    std::vector<TPlace> places{{"start", 0}, {"middle", t->LineStart(last / 2)}, {"end", t->Length()}};
    for (int line = last / 2; line <= last; ++line) {
        const QString text = t->Line(line);
        const int open = int(text.indexOf(QLatin1String("/*")));
        if (open >= 0 && text.indexOf(QLatin1String("*/"), open + 2) > open + 3) {
            places.push_back({"comment", t->LineStart(line) + open + 3});
            break;
        }
    }
    return places;
}

// The median keystroke at each place: rounds of 20 keys a place, the places
// taken in turn.
std::vector<double> KeysAtPlaces(TMDIChild *w, int rounds) {
    TRichEdit *e = w->RichEdit1;
    const std::vector<TPlace> places = Places(e->Text());
    std::vector<std::vector<double>> ms(places.size());
    std::vector<int> at(places.size());
    for (size_t p = 0; p < places.size(); ++p) at[p] = places[p].Position;
    for (int round = 0; round < rounds; ++round) {
        for (size_t p = 0; p < places.size(); ++p) {
            e->SetSelection(at[p], at[p]);
            e->ensureCursorVisible();
            QApplication::processEvents();
            for (int i = 0; i < 20; ++i) ms[p].push_back(Keystroke(e, i));
            // The places after this one moved along with the 20 characters.
            for (size_t q = p; q < places.size(); ++q) at[q] += 20;
        }
    }
    std::vector<double> medians;
    for (size_t p = 0; p < places.size(); ++p) {
        medians.push_back(bench::median(ms[p]));
        std::printf("    %-8s %.4f ms\n", places[p].Name, medians.back());
    }
    return medians;
}

double Max(const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

}  // namespace

QV_BENCH(editor_keystroke_10_50_200MB) {
    QTemporaryDir dir;
    // QV_BENCH_MB=10 (or 50, 200) measures one size alone.
    const int only = qEnvironmentVariableIntValue("QV_BENCH_MB");
    for (int mb : {10, 50, 200}) {
        if (only && mb != only) continue;
        const QString path = dir.filePath(QStringLiteral("k%1.c").arg(mb));
        if (!Write(path, CFile(qsizetype(mb) << 20))) return;
        malloc_trim(0);
        std::unique_ptr<TMDIChild> w = Open(path);
        std::printf("%d MB file, %d lines: one keystroke with its repaint, median of 100 at each place\n", mb,
                    w->RichEdit1->Text()->LineCount());
        const std::vector<double> fresh = KeysAtPlaces(w.get(), 5);
        std::printf("  target <= 0.1 ms at every place: %s\n", Max(fresh) <= 0.1 ? "met" : "NOT met");
        if (mb == 10) {
            // 100 characters typed at each of 500 places, then the same keys.
            TRichEdit *e = w->RichEdit1;
            QRandomGenerator rng(7);
            for (int place = 0; place < 500; ++place) {
                const int at = e->Text()->Snap(int(rng.bounded(e->Text()->Length())));
                e->SetSelection(at, at);
                for (int i = 0; i < 100; ++i) QTest::keyClick(e, Qt::Key_K);
            }
            QApplication::processEvents();
            std::printf("  after 100 characters typed at each of 500 places:\n");
            const std::vector<double> typed = KeysAtPlaces(w.get(), 5);
            double worst = 0;
            for (size_t p = 0; p < fresh.size(); ++p) worst = std::max(worst, typed[p] / fresh[p]);
            std::printf("  worst ratio to the fresh figure %.2f; target <= 1.2: %s\n", worst, worst <= 1.2 ? "met" : "NOT met");
        }
        w->Changed = false;
    }
}

QV_BENCH(editor_long_line_10M) {
    // One line of 10 million characters; the caret in its middle and at its end.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.c"));
    QByteArray line;
    line.reserve(10 << 20);
    while (line.size() < 10000000) line += "int x = y; /* c */\tz = 1;";
    line.truncate(10000000);
    if (!Write(path, line)) return;
    std::unique_ptr<TMDIChild> w = Open(path);
    TRichEdit *e = w->RichEdit1;
    std::printf("a line of %d characters:\n", TextLength(e));
    bool met = true;
    for (const auto &[name, at] : {std::pair<const char *, int>{"middle", 5000000}, {"end", 10000000}}) {
        e->SetSelection(at, at);
        e->ensureCursorVisible();
        QApplication::processEvents();
        std::vector<double> keys, blinks;
        for (int i = 0; i < 100; ++i) keys.push_back(Keystroke(e, i));
        for (int i = 0; i < 100; ++i) {
            // What a blink does: the caret's rectangle, and a repaint of it.
            QElapsedTimer t;
            t.start();
            const QRect r = e->cursorRect();
            e->viewport()->repaint(r.adjusted(-2, 0, 2, 0));
            blinks.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        const double k = bench::median(keys), b = bench::median(blinks);
        met = met && k <= 1 && b <= 1;
        std::printf("  %-6s keystroke with repaint %.3f ms, caret blink %.3f ms (medians of 100)\n", name, k, b);
    }
    std::printf("  target <= 1 ms each: %s\n", met ? "met" : "NOT met");
    w->Changed = false;
}

QV_BENCH(editor_replace_all_200000_in_50MB) {
    // A 50 MB file with 200,000 lines that hold one match each.
    QTemporaryDir dir;
    QByteArray text = CFile(50 << 20);
    QByteArray lines;
    for (int i = 0; i < 200000; ++i) lines += "    total += needle(" + QByteArray::number(i) + ");\r\n";
    text = lines + text.left((50 << 20) - lines.size());
    const QString path = dir.filePath(QStringLiteral("many.c"));
    if (!Write(path, text)) return;
    malloc_trim(0);
    const long rss0 = bench::residentKiB();
    std::unique_ptr<TMDIChild> w = Open(path);
    malloc_trim(0);
    const long rss1 = bench::residentKiB();
    const double doc = double(rss1 - rss0);
    finding::Request r;
    r.Pattern = QStringLiteral("needle");
    TTextStore *store = w->RichEdit1->Text();
    std::vector<double> times, peaks;
    bool oneStep = true, back = true;
    int replaced = 0;
    for (int round = 0; round < 5; ++round) {
        store->ClearHistory();
        malloc_trim(0);
        bench::resetPeak();
        const double t0 = bench::seconds();
        replaced = finding::ReplaceAll(w->RichEdit1, r, QStringLiteral("pin"));
        QApplication::processEvents();
        times.push_back(bench::seconds() - t0);
        peaks.push_back(double(bench::peakKiB() - rss0) / doc);
        int a = 0, c = 0;
        oneStep = oneStep && store->Undo(a, c) && !store->CanUndo();
        QByteArray bytes;
        back = back && sourcetext::Encode(store, sourcetext::CrLf, bytes, nullptr) && bytes == text;
    }
    const double t = bench::median(times), peak = bench::median(peaks);
    std::printf("replace all of %d matches in %.1f MB: %.3f s (median of 5; target <= 0.5 s: %s); one undo step: %s; "
                "undo gives the file back: %s\n",
                replaced, double(text.size()) / 1048576.0, t, t <= 0.5 ? "met" : "NOT met", oneStep ? "yes" : "NO",
                back ? "yes" : "NO");
    std::printf("  peak memory during, x the document's: %.2f (target <= 2: %s)\n", peak, peak <= 2 ? "met" : "NOT met");
    w->Changed = false;
}

QV_BENCH(editor_save_50MB_against_cp_and_sync) {
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/qv_bench_save_XXXXXX"));  // on the disk, not in memory
    const QByteArray text = CFile(50 << 20);
    const QString path = dir.filePath(QStringLiteral("save.c")), copy = dir.filePath(QStringLiteral("copy.c"));
    if (!Write(path, text)) return;
    std::unique_ptr<TMDIChild> w = Open(path);
    const QString cp = QStandardPaths::findExecutable(QStringLiteral("cp"));
    const QString sync = QStandardPaths::findExecutable(QStringLiteral("sync"));
    std::vector<double> ours, theirs;
    for (int round = 0; round < 6; ++round) {
        auto save = [&] {
            const double t0 = bench::seconds();
            w->Save();
            ours.push_back(bench::seconds() - t0);
        };
        auto copyFile = [&] {
            const double t0 = bench::seconds();
            QProcess::execute(cp, {path, copy});
            QProcess::execute(sync, {copy});
            theirs.push_back(bench::seconds() - t0);
        };
        if (round % 2) {
            save();
            copyFile();
        } else {
            copyFile();
            save();
        }
    }
    // The part of it that makes the bytes.
    std::vector<double> encode;
    for (int round = 0; round < 6; ++round) {
        QByteArray bytes;
        const double t0 = bench::seconds();
        sourcetext::Encode(w->RichEdit1->Text(), w->DefaultLineEnd, bytes, nullptr);
        encode.push_back(bench::seconds() - t0);
    }
    QFile f(path);
    const bool same = f.open(QIODevice::ReadOnly) && f.readAll() == text;
    const double a = bench::median(ours), b = bench::median(theirs);
    std::printf("making the bytes alone: %.3f s (median of 6)\n", bench::median(encode));
    std::printf("Save of %.1f MB: %.3f s; cp and sync of it: %.3f s; ratio %.2f (medians of 6, alternated; target <= 2: "
                "%s); the file saved back byte for byte: %s\n",
                double(text.size()) / 1048576.0, a, b, a / b, a <= 2 * b ? "met" : "NOT met", same ? "yes" : "NO");
}
