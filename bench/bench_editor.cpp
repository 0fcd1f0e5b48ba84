// The editor: loading and colouring a large C file, the colouring of one
// keystroke, saving, and the memory that a loaded file takes.
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextCursor>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench.h"
#include "childwin.h"
#include "sjis.h"
#include "sourcetext.h"

namespace {

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

struct Stats {
    double mean = 0, max = 0;
};

Stats Time(const std::vector<double> &ms) {
    Stats s;
    for (double v : ms) {
        s.mean += v;
        s.max = std::max(s.max, v);
    }
    if (!ms.empty()) s.mean /= double(ms.size());
    return s;
}

}  // namespace

QV_BENCH(editor_load_colour_10MB) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.c"));
    const QByteArray bytes = MakeCFile(10 * 1024 * 1024);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::printf("cannot write %s\n", qPrintable(path));
            return;
        }
    }
    const long before = bench::residentKiB();
    auto *w = new TMDIChild;
    w->show();
    double t0 = bench::seconds();
    w->LoadFile(path);
    const double load = bench::seconds() - t0;
    const long after = bench::residentKiB();
    std::printf("file %.1f MB, %d lines\n", bytes.size() / 1048576.0, w->RichEdit1->document()->blockCount());
    std::printf("load and colour: %.3f s (target < 1.5 s)\n", load);
    std::printf("memory after load: %ld KiB more = %.1f x the file (target < 10 x)\n", after - before,
                (after - before) * 1024.0 / double(bytes.size()));

    // Where the time goes: decoding, Qt taking the text, the colouring pass.
    {
        double t = bench::seconds();
        sourcetext::Decoded d = sourcetext::Decode(bytes);
        const double decode = bench::seconds() - t;
        QPlainTextEdit plain;
        plain.document()->setUndoRedoEnabled(false);
        t = bench::seconds();
        plain.setPlainText(d.Text);
        const double text = bench::seconds() - t;
        const QString whole = TextOf(&plain);
        const int len = int(whole.size());
        const std::vector<colouring::Run> runs = colouring::Scan(whole, 1, len, 1, len);
        size_t coloured = 0;
        for (const auto &r : runs) coloured += r.colour != colouring::BlackRun;
        t = bench::seconds();
        ColourRange(&plain, 1, len);
        const double colour = bench::seconds() - t;
        std::printf("  of which: decode %.3f s, Qt takes the text %.3f s, colouring %.3f s "
                    "(%zu words and comments, %zu of them blue or green = %.0f per KB)\n",
                    decode, text, colour, runs.size(), coloured, coloured * 1024.0 / double(bytes.size()));
    }

    // One keystroke (an inserted character and the colouring of its line) at
    // the start, the middle and the end of the text.
    const int length = TextLength(w->RichEdit1);
    const struct {
        const char *name;
        int position;
    } places[] = {{"start", 0}, {"middle", length / 2}, {"end", length}};
    for (const auto &p : places) {
        std::vector<double> edit, change;
        SetSelection(w->RichEdit1, p.position, 0);
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer t;
            t.start();
            w->RichEdit1->textCursor().insertText(i % 10 == 9 ? QStringLiteral(" ") : QStringLiteral("x"));
            edit.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            w->RichEdit1Change();
            change.push_back(t.nsecsElapsed() / 1e6);
        }
        const Stats e = Time(edit), c = Time(change);
        std::printf("keystroke at %-6s: insert+colour mean %.3f ms max %.3f ms; RichEdit1Change alone mean %.3f ms max %.3f ms (target < 1 ms)\n",
                    p.name, e.mean, e.max, c.mean, c.max);
    }

    t0 = bench::seconds();
    w->SaveAs(dir.filePath(QStringLiteral("copy.c")));
    std::printf("save: %.3f s\n", bench::seconds() - t0);
    delete w;
}

QV_BENCH(editor_load_save_identical_50MB) {
    // A 50 MB file comes back byte for byte.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.c"));
    const QByteArray bytes = MakeCFile(50 * 1024 * 1024);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return;
    }
    auto *w = new TMDIChild;
    double t0 = bench::seconds();
    w->LoadFile(path);
    const double load = bench::seconds() - t0;
    t0 = bench::seconds();
    const QString copy = dir.filePath(QStringLiteral("copy.c"));
    w->SaveAs(copy);
    const double save = bench::seconds() - t0;
    QFile f(copy);
    const bool same = f.open(QIODevice::ReadOnly) && f.readAll() == bytes;
    std::printf("50 MB: load and colour %.3f s, save %.3f s, identical: %s\n", load, save, same ? "yes" : "NO");
    delete w;
}

QV_BENCH(editor_keystroke_1MB_line) {
    // The caret's line is the range of the edit-time colouring, so a keystroke
    // in a 1 MB line costs a pass over that line.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.c"));
    QByteArray line;
    while (line.size() < (1 << 20)) line += "int x = y; /* c */ ";
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(line) != line.size()) return;
    }
    auto *w = new TMDIChild;
    w->show();
    w->LoadFile(path);
    SetSelection(w->RichEdit1, TextLength(w->RichEdit1) / 2, 0);
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        w->RichEdit1->textCursor().insertText(QStringLiteral("x"));
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::vector<double> colour;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        w->RichEdit1Change();
        colour.push_back(t.nsecsElapsed() / 1e6);
    }
    QPlainTextEdit plain;
    plain.setLineWrapMode(QPlainTextEdit::NoWrap);
    plain.setPlainText(QString::fromLatin1(line));
    plain.show();
    SetSelection(&plain, TextLength(&plain) / 2, 0);
    std::vector<double> bare;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        plain.textCursor().insertText(QStringLiteral("x"));
        bare.push_back(t.nsecsElapsed() / 1e6);
    }
    const Stats s = Time(ms), c = Time(colour), b = Time(bare);
    std::printf("keystroke in a 1 MB line: mean %.2f ms, max %.2f ms; its colouring alone mean %.2f ms; "
                "the same keystroke in a bare Qt control mean %.2f ms\n", s.mean, s.max, c.mean, b.mean);
    delete w;
}
