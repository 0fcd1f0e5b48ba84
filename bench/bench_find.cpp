// Find: a search through a project of 1,000 files of 1,000 lines each (time
// until every row is listed, and the longest pause of the GUI thread
// meanwhile), find next through a 10 MB file, and replace all of 200,000
// matches as one undo step.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>
#include <malloc.h>

#include "bench.h"
#include "childwin.h"
#include "finddialog.h"
#include "mainform.h"
#include "projectsearch.h"
#include "searchcontrol.h"
#include "projecttree.h"
#include "richedit.h"
#include "sourcetext.h"
#include "sjis.h"

namespace {

// One C source line of a file: keywords, a Japanese comment now and then, and
// "needle" once in every hundred lines.
QByteArray Line(int file, int line) {
    static QByteArray jp = [] {
        QByteArray b;
        sjis::encode(QStringLiteral("    /* 日本語のコメント: 合計を返す */"), b);
        return b;
    }();
    if (line % 100 == 50) return "    total += needle(" + QByteArray::number(file) + ", " + QByteArray::number(line) + ");";
    if (line % 10 == 3) return jp;
    return "    for (i = 0; i < count; i++) sum" + QByteArray::number(line % 7) + " += value[i] * " +
           QByteArray::number(file) + ";";
}

// Runs the event loop until done() holds; the longest gap between two turns
// of the loop, in ms.
double LongestPause(const std::function<bool()> &done, double &elapsed) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed(), longest = 0;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (done()) loop.quit();
    });
    tick.start();
    loop.exec();
    elapsed = double(clock.nsecsElapsed()) / 1e9;
    return double(longest) / 1e6;
}

}  // namespace

QV_BENCH(find_in_project_1000_files) {
    QTemporaryDir dir;
    TMainForm form;
    form.show();
    QApplication::processEvents();
    form.CurrentProject = project::Project::Named(QStringLiteral("P"));
    qint64 bytes = 0;
    for (int f = 0; f < 1000; ++f) {
        QByteArray text;
        for (int l = 0; l < 1000; ++l) text += Line(f, l) + "\r\n";
        const QString path = dir.filePath(QStringLiteral("f%1.c").arg(f, 4, 10, QLatin1Char('0')));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size()) return void(std::printf("cannot write\n"));
        bytes += text.size();
        form.CurrentProject.AddFile(QFileInfo(path).fileName(), path);
    }
    // One of them open in an editor.
    form.OpenDocument(dir.filePath(QStringLiteral("f0500.c")));
    std::printf("project: 1000 files, 1000 lines each, %.1f MB\n", double(bytes) / 1048576.0);
    struct Case {
        const char *what;
        QString pattern;
    };
    for (const Case &c : {Case{"10 matches a file", QStringLiteral("needle")},
                          Case{"one match a line (rows limited)", QStringLiteral("i++")},
                          Case{"no match", QStringLiteral("nowhere")}}) {
        double elapsed = 0;
        form.Searcher->StartProjectSearch(c.pattern, {});
        const double pause = LongestPause([&] { return !form.Searcher->ProjectSearch->Running(); }, elapsed);
        std::printf("%-32s rows %7d  all listed after %.3f s, longest GUI pause %.1f ms\n", c.what,
                    form.Panel1->SearchList->count(), elapsed, pause);
    }
}

QV_BENCH(find_next_10MB) {
    QTemporaryDir dir;
    QByteArray text;
    int lines = 0;
    for (; text.size() < 10 * 1024 * 1024; ++lines) text += Line(lines / 1000, lines % 1000) + "\r\n";
    text += "/* last_one */\r\n";
    const QString path = dir.filePath(QStringLiteral("big.c"));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size()) return;
    out.close();
    TMDIChild w;
    w.LoadFile(path);
    w.show();
    QApplication::processEvents();
    std::printf("file %.1f MB, %d lines\n", double(text.size()) / 1048576.0, lines + 1);

    finding::Request r;
    r.Pattern = QStringLiteral("last_one");
    r.Wrap = false;
    for (bool matchCase : {true, false}) {
        r.Options.MatchCase = matchCase;
        SetSelection(w.RichEdit1, 0, 0);
        QElapsedTimer t;
        t.start();
        const finding::Result res = finding::FindNext(w.RichEdit1, r);
        std::printf("find from the top to the only match at the end (%s): %.1f ms (%s)\n",
                    matchCase ? "match case" : "any case", double(t.nsecsElapsed()) / 1e6,
                    res == finding::Found ? "found" : "NOT FOUND");
    }
    // Find next, one match after the other, to the last one.
    r.Pattern = QStringLiteral("needle");
    r.Options.MatchCase = false;
    SetSelection(w.RichEdit1, 0, 0);
    std::vector<double> steps;
    QElapsedTimer t;
    t.start();
    for (;;) {
        QElapsedTimer one;
        one.start();
        if (finding::FindNext(w.RichEdit1, r) != finding::Found) break;
        steps.push_back(double(one.nsecsElapsed()) / 1e6);
    }
    const double total = double(t.nsecsElapsed()) / 1e6;
    const double perStep = total / double(std::max<size_t>(steps.size(), 1));
    std::printf("find next through all %d matches from the top (100 lines apart): %.3f s, %.4f ms a step "
                "(median %.4f ms, longest %.3f ms); target <= 0.1 ms a step: %s\n",
                int(steps.size()), total / 1e3, perStep, bench::median(steps),
                steps.empty() ? 0.0 : *std::max_element(steps.begin(), steps.end()), perStep <= 0.1 ? "met" : "NOT met");
}

QV_BENCH(find_replace_all_200000) {
    // 200,000 lines of about 50 bytes, each with one match, a Japanese comment
    // between every ten of them.
    QTemporaryDir dir;
    const int count = 200000;
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        if (i % 10 == 3) text += Line(0, 3) + "\r\n";
        text += "    total += needle(" + QByteArray::number(i) + ") * value[i];\r\n";
    }
    const QString path = dir.filePath(QStringLiteral("many.c"));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size()) return;
    out.close();
    malloc_trim(0);
    const long rss0 = bench::residentKiB(), heap0 = bench::heapBytes();
    TMDIChild w;
    w.LoadFile(path);
    w.show();
    QApplication::processEvents();
    malloc_trim(0);
    const long rss1 = bench::residentKiB(), heap1 = bench::heapBytes();
    std::printf("file %.1f MB; the loaded document holds %.1f MB (RSS), %.1f MB (heap)\n", double(text.size()) / 1048576.0,
                double(rss1 - rss0) / 1024.0, double(heap1 - heap0) / 1048576.0);

    finding::Request r;
    r.Pattern = QStringLiteral("needle");
    TTextStore *store = w.RichEdit1->Text();
    std::vector<double> times;
    long peak = -1, rss2 = 0, heap2 = 0;
    bool oneStep = true, undone = true;
    int replaced = 0;
    for (int round = 0; round < 5; ++round) {
        store->ClearHistory();
        bench::resetPeak();
        QElapsedTimer t;
        t.start();
        replaced = finding::ReplaceAll(w.RichEdit1, r, QStringLiteral("pin"));
        QApplication::processEvents();
        times.push_back(double(t.nsecsElapsed()) / 1e9);
        peak = std::max(peak, bench::peakKiB());
        malloc_trim(0);
        rss2 = std::max(rss2, bench::residentKiB());
        heap2 = std::max(heap2, bench::heapBytes());
        // One undo step takes the text back whole.
        int anchor = 0, caret = 0;
        oneStep = oneStep && store->Undo(anchor, caret) && !store->CanUndo();
        QApplication::processEvents();
        QByteArray back;
        undone = undone && sourcetext::Encode(store, sourcetext::CrLf, back, nullptr) && back == text;
    }
    w.Changed = false;
    const double median = bench::median(times);
    const double doc = double(rss1 - rss0);
    std::printf("replace all %d matches (median of %zu): %.3f s (target <= 1 s: %s); one undo step: %s; "
                "undo gives the file back: %s\n",
                replaced, times.size(), median, median <= 1 ? "met" : "NOT met", oneStep ? "yes" : "NO",
                undone ? "yes" : "NO");
    const double after = double(rss2 - rss0) / doc, top = peak < 0 ? -1 : double(peak - rss0) / doc;
    std::printf("memory of the document, x that before: after %.2f (heap %.2f), peak during %.2f "
                "(target <= 2 x: %s); the whole process's RSS after %.2f x that before\n",
                after, double(heap2 - heap0) / double(heap1 - heap0), top,
                std::max(after, top) <= 2 ? "met" : "NOT met", double(rss2) / double(rss1));
}
