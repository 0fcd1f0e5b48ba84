// The Output pane under a flood: a child printing lines through the command
// runner into the main window's Output list, against the same list filled in
// one go, and how long the GUI thread goes without running a timer tick while
// the rows stream in.
#include "bench.h"
#include "gapmeter.h"
#include "cmdline.h"
#include "cmdquote.h"
#include "compile.h"
#include "compilecontrol.h"
#include "documents.h"
#include "mainform.h"
#include "searchcontrol.h"
#include "outputpane.h"
#include "sjis.h"
#include "tdoscmd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>

using qvtest::QuoteProgram;

namespace {

QByteArray EmitCommand(const QByteArrayList &args) {
    QByteArray line = QuoteProgram(QFile::encodeName(QCoreApplication::applicationDirPath() + "/../tools/qv_emit"));
    for (const QByteArray &a : args) line += ' ' + a;
    return line;
}

struct Stream {
    double seconds = 0;
    int rows = 0;
    double longestGapMs = 0;
};

// Runs the child into the form's Output pane until the end row is there, with
// a 1 ms timer ticking on the GUI thread meanwhile.
Stream StreamInto(TMainForm &form, const QByteArrayList &args) {
    Stream s;
    QEventLoop loop;
    bench::TGapMeter gaps;
    auto terminate = form.Compiler->DosCommand1->OnTerminate;
    form.Compiler->DosCommand1->OnTerminate = [&](TDosCommand *sender) {
        terminate(sender);
        loop.quit();
    };
    gaps.Start();
    if (!form.Compiler->DosCommand1->StartCommand(EmitCommand(args), QByteArray())) {
        std::printf("  could not start the helper\n");
        return s;
    }
    loop.exec();
    // A line decoded aside holds the rows after it, the end row among them.
    TOutputList *out = form.Output;
    while (out->count() == 0 || out->Row(out->count() - 1) != buildcmd::EndLine)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    // The last batch on screen, as the list filled in one go puts it there.
    form.Output->ScrollToRow(form.Output->count() - 1);
    form.Output->viewport()->repaint();
    s.seconds = gaps.Seconds();
    gaps.Stop();
    form.Compiler->DosCommand1->OnTerminate = terminate;
    s.rows = form.Output->count() - 1;  // without the end row
    s.longestGapMs = gaps.LongestMs();
    return s;
}

// The rows of qv_emit's "lines:COUNT:LEN".
QByteArray NumberedLine(int i, int len) {
    return QByteArray::number(i).rightJustified(10, '0') + QByteArray(len - 11, 'x');
}

}  // namespace

QV_BENCH(output_pane_streamed_rows) {
    std::printf("  rows of 80 bytes from qv_emit through the runner into Output, against the same rows\n"
                "  decoded and added to the list in one go (then drawn); medians of 5 runs each, taken by turns\n");
    for (const int count : {50000, 100000, 200000, 400000}) {
        std::vector<double> streamed, oneGo;
        int rows = 0;
        for (int run = 0; run < 5; ++run) {
            {
                TMainForm form;
                form.show();
                const Stream s = StreamInto(form, {"lines:" + QByteArray::number(count) + ":80"});
                streamed.push_back(s.seconds);
                rows = s.rows;
            }
            {
                TMainForm form;
                form.show();
                QCoreApplication::processEvents();
                std::vector<QByteArray> lines;
                lines.reserve(size_t(count));
                for (int i = 0; i < count; ++i) lines.push_back(NumberedLine(i, 80));
                const double t0 = bench::seconds();
                for (const QByteArray &l : lines) form.Compiler->AppendOutput(sjis::decode(l));
                form.Output->ScrollToRow(count - 1);
                form.Output->viewport()->repaint();
                oneGo.push_back(bench::seconds() - t0);
            }
        }
        std::sort(streamed.begin(), streamed.end());
        std::sort(oneGo.begin(), oneGo.end());
        const double s = streamed[2], g = oneGo[2];
        std::printf("  %6d rows: streamed %.3f s (%.2f us a row, %d rows), in one go %.3f s: ratio %.2f\n", count, s,
                    s / count * 1e6, rows, g, s / g);
    }
}

QV_BENCH(output_pane_flood_pause) {
    // 10 MB of lines, one line of 8 MB, 10 MB more: the longest time the GUI
    // thread goes without a timer tick, with the window on screen.
    for (int run = 0; run < 3; ++run) {
        TMainForm form;
        form.show();
        const Stream s = StreamInto(form, {"lines:131072:80", "lines:1:8388608", "lines:131072:80"});
        std::printf("  20 MB of 80-byte lines and one line of 8 MB: %d rows in %.3f s; longest gap between"
                    " ticks %.1f ms\n",
                    s.rows, s.seconds, s.longestGapMs);
    }
    // A compiler that prints one line of 100 MB.
    TMainForm form;
    form.show();
    const Stream s = StreamInto(form, {"lines:1:104857600"});
    std::printf("  one line of 100 MB: %d row in %.3f s; longest gap between ticks %.1f ms; resident %ld KiB\n",
                s.rows, s.seconds, s.longestGapMs, bench::residentKiB());
}
