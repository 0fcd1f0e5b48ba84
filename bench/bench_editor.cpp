// The editor: loading and colouring a large C file, the colouring of one
// keystroke, saving, and the memory that a loaded file takes.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <algorithm>
#include <cstdio>
#include <vector>
#include <malloc.h>

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
    // Qt's floor: the same text into a bare control, nothing else; and where
    // the rest of the load's time goes.
    double bare = 0;
    std::vector<double> bareKeys[3];
    {
        double t = bench::seconds();
        sourcetext::Decoded d = sourcetext::Decode(bytes);
        const double decode = bench::seconds() - t;
        malloc_trim(0);
        const long m0 = bench::residentKiB();
        QPlainTextEdit plain;
        plain.setLineWrapMode(QPlainTextEdit::NoWrap);
        plain.show();
        t = bench::seconds();
        plain.setPlainText(d.Text);
        bare = bench::seconds() - t;
        d.Text = QString();
        malloc_trim(0);
        const long m1 = bench::residentKiB();
        t = bench::seconds();
        sourcetext::SetLineEnds(plain.document(), d.Ends);
        const double ends = bench::seconds() - t;
        t = bench::seconds();
        ColourRange(&plain, 1, TextLength(&plain));
        const double colour = bench::seconds() - t;
        std::printf("  parts: decode %.3f s, line ends %.3f s, colouring %.3f s; the bare control holds %.1f x the file\n",
                    decode, ends, colour, (m1 - m0) * 1024.0 / double(bytes.size()));
        // The bare control's keystrokes, for comparison.
        const int n = TextLength(&plain);
        plain.resize(429, 215);
        plain.setFocus();
        int place = 0;
        for (int at : {0, n / 2, n}) {
            SetSelection(&plain, at, 0);
            QApplication::processEvents();
            for (int i = 0; i < 200; ++i) {
                QElapsedTimer k;
                k.start();
                QTest::keyClick(&plain, i % 10 == 9 ? Qt::Key_Space : Qt::Key_X);
                QApplication::processEvents();
                bareKeys[place].push_back(k.nsecsElapsed() / 1e6);
            }
            ++place;
        }
    }
    malloc_trim(0);
    const long before = bench::residentKiB();
    auto *w = new TMDIChild;
    w->show();
    double t0 = bench::seconds();
    w->LoadFile(path);
    const double load = bench::seconds() - t0;
    QApplication::processEvents();  // the first paint
    const long after = bench::residentKiB();
    std::printf("file %.1f MB, %d lines\n", bytes.size() / 1048576.0, w->RichEdit1->document()->blockCount());
    std::printf("load and colour: %.3f s; QPlainTextEdit::setPlainText of the same text alone: %.3f s; ratio %.2f (target <= 1.25)\n",
                load, bare, load / bare);
    std::printf("memory after load: %ld KiB more = %.1f x the file (target <= 8 x)\n", after - before,
                (after - before) * 1024.0 / double(bytes.size()));

    // One keystroke (a key press, the colouring of its line and the repaint
    // that follows) at the start, the middle and the end of the text.
    const int length = TextLength(w->RichEdit1);
    const struct {
        const char *name;
        int position;
    } places[] = {{"start", 0}, {"middle", length / 2}, {"end", length}};
    w->RichEdit1->setFocus();
    int place = 0;
    for (const auto &p : places) {
        std::vector<double> key;
        SetSelection(w->RichEdit1, p.position, 0);
        QApplication::processEvents();
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer t;
            t.start();
            QTest::keyClick(w->RichEdit1, i % 10 == 9 ? Qt::Key_Space : Qt::Key_X);
            QApplication::processEvents();
            key.push_back(t.nsecsElapsed() / 1e6);
        }
        const Stats k = Time(key), b = Time(bareKeys[place++]);
        std::printf("keystroke with repaint at %-6s: mean %.3f ms, max %.3f ms (target <= 0.2 ms); bare control mean %.3f ms\n",
                    p.name, k.mean, k.max, b.mean);
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
    // in a 1 MB line costs a pass over that line on top of Qt's own layout.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.c"));
    QByteArray line;
    while (line.size() < (1 << 20)) line += "int x = y; /* c */ ";
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(line) != line.size()) return;
    }
    auto keystrokes = [](QPlainTextEdit *edit) {
        SetSelection(edit, TextLength(edit) / 2, 0);
        edit->setFocus();
        QApplication::processEvents();
        std::vector<double> ms;
        for (int i = 0; i < 10; ++i) {
            QElapsedTimer t;
            t.start();
            QTest::keyClick(edit, Qt::Key_X);
            QApplication::processEvents();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        return Time(ms);
    };
    auto *w = new TMDIChild;
    w->show();
    w->LoadFile(path);
    const Stats s = keystrokes(w->RichEdit1);
    std::vector<double> colour;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer t;
        t.start();
        w->RichEdit1Change();
        colour.push_back(t.nsecsElapsed() / 1e6);
    }
    const Stats c = Time(colour);
    delete w;
    QPlainTextEdit plain;
    plain.setLineWrapMode(QPlainTextEdit::NoWrap);
    plain.resize(429, 215);
    plain.setPlainText(QString::fromLatin1(line));
    plain.show();
    const Stats b = keystrokes(&plain);
    std::printf("keystroke with repaint in a 1 MB line: mean %.2f ms, max %.2f ms; its colouring alone mean %.2f ms; "
                "a bare QPlainTextEdit mean %.2f ms; ratio %.2f (target <= 1.25)\n", s.mean, s.max, c.mean, b.mean, s.mean / b.mean);
}
