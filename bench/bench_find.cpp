// Find: a search through a project of 1,000 files of 1,000 lines each and
// one of 100 files of 10,000 lines of Japanese text (time until every row is
// listed, and the longest pause of the GUI thread meanwhile, against grep on
// the same files), find next through a 10 MB file, and replace all of 200,000
// matches as one undo step.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>
#include <malloc.h>

#include "bench.h"
#include "gapmeter.h"
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

// A line of Japanese prose in Shift-JIS, now and then with "検索対象" or a
// name in letters.
QByteArray JapaneseLine(quint32 &state) {
    static const QStringList words{
        QStringLiteral("日本語の文章です。"), QStringLiteral("プログラムの説明を書きます"), QStringLiteral("計算結果を表示する"),
        QStringLiteral("ファイルを開けません"), QStringLiteral("変数の値を確認する、"), QStringLiteral("関数を呼び出して"),
        QStringLiteral("構造体の定義は"), QStringLiteral("ソースコードの例："), QStringLiteral("表の十行目に"),
        QStringLiteral("能率よく予定を立てる"), QStringLiteral("ｶﾀｶﾅ半角の文字"), QStringLiteral("全角のＡＢＣと１２３"),
        QStringLiteral("「かぎかっこ」の中"), QStringLiteral("申し込みは明日まで"), QStringLiteral("printf で出力する")};
    const auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 16;
    };
    QString line = QStringLiteral("    ");
    for (int n = 3 + int(next() % 4); n > 0; --n) line += words.at(int(next() % quint32(words.size())));
    if (next() % 100 == 0) line += QStringLiteral("検索対象の行");
    if (next() % 100 == 1) line += QStringLiteral(" Needle");
    QByteArray b;
    sjis::encode(line, b);
    return b;
}

bool Write(const QString &path, const QByteArray &bytes) {
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

// One run of `grep -rn[i]Ff patternfile dir` (the pattern's Shift-JIS bytes
// in a file) with its output read whole, in the C locale (grep reads the
// files as bytes; in a UTF-8 locale it would take Shift-JIS files for binary
// ones): seconds, and the lines it printed.
double Grep(const QString &options, const QString &patternFile, const QString &dir, int &lines) {
    QProcess grep;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    grep.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    grep.start(QStringLiteral("grep"), {options, patternFile, dir});
    grep.waitForFinished(-1);  // reads the output meanwhile
    const QByteArray out = grep.readAllStandardOutput();
    const double s = double(t.nsecsElapsed()) / 1e9;
    lines = int(out.count('\n'));
    return s;
}

// One search in the project (any case, the default) until its last row is
// listed: seconds, and the longest pause of the GUI thread meanwhile. The GUI
// thread waits for events as it does in use, a 1 ms timer measuring it.
double SearchOnce(TMainForm &form, const QString &pattern, double &pause) {
    TProjectSearch *search = form.Searcher->ProjectSearch;
    const auto finished = search->OnFinished;
    QEventLoop loop;
    search->OnFinished = [&](int matches, int files, bool cancelled) {
        finished(matches, files, cancelled);
        loop.quit();
    };
    bench::TGapMeter meter;
    meter.Start();
    form.Searcher->StartProjectSearch(pattern, {});
    loop.exec();
    const double s = meter.Seconds();
    meter.Stop();
    pause = meter.LongestMs();
    search->OnFinished = finished;
    return s;
}

// Find in the project against grep over the same files, rounds alternated:
// the median of each and their ratio.
void AgainstGrep(TMainForm &form, const QString &dir, const char *what, const QString &pattern, double target) {
    constexpr int kRounds = 7;
    std::vector<double> ours, greps, grepsCase, pauses;
    int rows = 0, lines = 0, linesCase = 0;
    QTemporaryDir patternDir;
    const QString patternFile = patternDir.filePath(QStringLiteral("pattern"));
    QByteArray bytes;
    sjis::encode(pattern, bytes);
    if (!Write(patternFile, bytes + "\n")) return void(std::printf("cannot write\n"));
    for (int round = 0; round < kRounds; ++round) {
        double pause = 0;
        ours.push_back(SearchOnce(form, pattern, pause));
        pauses.push_back(pause);
        rows = form.Panel1->SearchList->count();
        greps.push_back(Grep(QStringLiteral("-rniFf"), patternFile, dir, lines));
        grepsCase.push_back(Grep(QStringLiteral("-rnFf"), patternFile, dir, linesCase));
    }
    const double a = bench::median(ours), g = bench::median(greps), gc = bench::median(grepsCase);
    std::printf("%-32s rows %6d  %.3f s (GUI pause %4.1f ms) | grep -rniF %.3f s (%d lines), -rnF %.3f s | "
                "x grep -rniF %.2f (target <= %.1f: %s), x grep -rnF %.2f\n",
                what, rows, a, bench::median(pauses), g, lines, gc, a / g, target, a / g <= target ? "met" : "NOT met",
                a / gc);
}

// A project of these files, one of them open in an editor.
void ProjectOf(TMainForm &form, const QStringList &paths, const QString &open) {
    form.CurrentProject = project::Project::Named(QStringLiteral("P"));
    for (const QString &path : paths) form.CurrentProject.AddFile(QFileInfo(path).fileName(), path);
    form.OpenDocument(open);
}

}  // namespace

// Medians of 7 rounds, alternated with grep on the same files.
QV_BENCH(find_in_project_1000_files) {
    QTemporaryDir dir;
    TMainForm form;
    form.show();
    QApplication::processEvents();
    qint64 bytes = 0;
    QStringList paths;
    for (int f = 0; f < 1000; ++f) {
        QByteArray text;
        for (int l = 0; l < 1000; ++l) text += Line(f, l) + "\r\n";
        const QString path = dir.filePath(QStringLiteral("f%1.c").arg(f, 4, 10, QLatin1Char('0')));
        if (!Write(path, text)) return void(std::printf("cannot write\n"));
        bytes += text.size();
        paths << path;
    }
    ProjectOf(form, paths, dir.filePath(QStringLiteral("f0500.c")));
    std::printf("project: 1000 C files, 1000 lines each, %.1f MB; one open in an editor; %d threads\n",
                double(bytes) / 1048576.0, QThread::idealThreadCount());
    AgainstGrep(form, dir.path(), "10 matches a file", QStringLiteral("needle"), 1.5);
    AgainstGrep(form, dir.path(), "no match", QStringLiteral("nowhere"), 1.5);
    AgainstGrep(form, dir.path(), "one match a line (rows limited)", QStringLiteral("i++"), 1.5);

    QTemporaryDir jdir;
    bytes = 0;
    paths.clear();
    quint32 state = 1;
    for (int f = 0; f < 100; ++f) {
        QByteArray text;
        for (int l = 0; l < 10000; ++l) text += JapaneseLine(state) + "\r\n";
        const QString path = jdir.filePath(QStringLiteral("j%1.txt").arg(f, 3, 10, QLatin1Char('0')));
        if (!Write(path, text)) return void(std::printf("cannot write\n"));
        bytes += text.size();
        paths << path;
    }
    ProjectOf(form, paths, jdir.filePath(QStringLiteral("j050.txt")));
    std::printf("project: 100 Shift-JIS files of Japanese text, 10000 lines each, %.1f MB\n", double(bytes) / 1048576.0);
    AgainstGrep(form, jdir.path(), "Japanese word", QStringLiteral("検索対象"), 2);
    AgainstGrep(form, jdir.path(), "word in letters", QStringLiteral("needle"), 2);
    AgainstGrep(form, jdir.path(), "katakana with a 5C byte", QStringLiteral("ソース"), 2);
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
