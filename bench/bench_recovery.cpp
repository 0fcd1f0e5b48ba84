// Keeping a 10 MB document's unsaved edits: how long the GUI thread stops for
// one recovery write (taking a snapshot of the text and handing it to the
// writer), how long the writer's thread takes to get its bytes on disk, and the longest gap
// between 1 ms timer ticks while keys are typed and the writes come on their
// own timer.
#include "bench.h"
#include "gapmeter.h"
#include "childwin.h"
#include "documents.h"
#include "mainform.h"
#include "recovery.h"
#include "richedit.h"
#include "sourcetext.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <vector>

QV_BENCH(recovery_10mb) {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("big.c"));
    {
        QByteArray text;
        const QByteArray line = "    total += values[i] * 3; /* \x82\xa0\x82\xa2 sum */\r\n";
        while (text.size() < 10 * 1024 * 1024) text += line;
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
            std::printf("could not write %s\n", qPrintable(source));
            return;
        }
    }
    TMainForm form;
    form.show();
    form.OpenDocument(source);
    TMDIChild *doc = form.MDIChildren(0);
    doc->RichEdit1->setFocus();

    // The GUI thread's part of a recovery write is taking a snapshot of the
    // store; for comparison, the bytes made whole on one thread, as Save
    // makes them. A key between rounds, so that each snapshot follows an edit.
    {
        TTextStore *store = doc->RichEdit1->Text();
        QByteArray bytes;
        const double t0 = bench::seconds();
        sourcetext::Encode(store, sourcetext::CrLf, bytes, nullptr);
        const double encode = bench::seconds() - t0;
        std::vector<double> take;
        for (int i = 0; i < 9; ++i) {
            QTest::keyClick(doc->RichEdit1, 'z');
            const double t1 = bench::seconds();
            const sourcetext::Snapshot text = sourcetext::Take(store, sourcetext::CrLf);
            take.push_back((bench::seconds() - t1) * 1e3);
            if (text.Text.Length() != store->Length()) std::printf("the snapshot is not the text\n");
        }
        const double median = bench::median(take);
        std::printf("%lld bytes: Encode of the document %.1f ms; sourcetext::Take on the GUI thread median of %d %.3f ms, "
                    "worst %.3f ms (target <= 5 ms: %s)\n",
                    (long long)bytes.size(), encode * 1e3, int(take.size()), median,
                    *std::max_element(take.begin(), take.end()), median <= 5 ? "met" : "NOT met");
    }

    // One write at a time: written at the first turn of the event loop after
    // each key, a turn that does nothing else worth counting.
    form.Recovery = std::make_unique<TRecovery>(*form.Docs, dir.filePath(QStringLiteral("recovery")),
                                                TRecovery::Timing{0, 0, 2000});
    QCoreApplication::processEvents();
    form.Recovery->Flush();
    double worstPause = 0, sumPause = 0, worstDisk = 0;
    const int rounds = 5;
    for (int i = 0; i < rounds; ++i) {
        QTest::keyClick(doc->RichEdit1, 'x');
        const double t0 = bench::seconds();
        QCoreApplication::processEvents();
        const double pause = bench::seconds() - t0;
        form.Recovery->Flush();
        const double disk = bench::seconds() - t0;
        worstPause = std::max(worstPause, pause);
        sumPause += pause;
        worstDisk = std::max(worstDisk, disk);
    }
    std::printf("one write, GUI thread: mean %.1f ms, worst %.1f ms; on disk after at most %.1f ms\n",
                sumPause / rounds * 1e3, worstPause * 1e3, worstDisk * 1e3);

    // Typing a key every 50 ms for 3 s: the writes come on their own timer
    // (at the latest 2 s into the typing).
    form.Recovery = std::make_unique<TRecovery>(*form.Docs, dir.filePath(QStringLiteral("recovery")),
                                                TRecovery::Timing{500, 2000, 2000});
    bench::TGapMeter gaps;
    QTimer typist;
    typist.setInterval(50);
    QObject::connect(&typist, &QTimer::timeout, [&] { QTest::keyClick(doc->RichEdit1, 'y'); });
    gaps.Start();
    typist.start();
    QTest::qWait(3000);
    typist.stop();
    QTest::qWait(800);  // the write after the last key
    gaps.Stop();
    form.Recovery->Flush();
    std::printf("typing for 3 s with writes on their timer: longest gap between 1 ms ticks %.1f ms\n", gaps.LongestMs());
}
