// The Output pane under a flood: a child printing 100,000 lines through the
// command runner into the main window's Output list, and how long the GUI
// thread goes without running a timer tick meanwhile.
#include "bench.h"
#include "cmdline.h"
#include "cmdquote.h"
#include "mainform.h"
#include "tdoscmd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>

using qvtest::QuoteProgram;

QV_BENCH(output_pane_100k_lines) {
    for (const int length : {20, 80}) {
        TMainForm form;
        form.show();
        const int count = 100000;
        const QByteArray command =
            QuoteProgram(QFile::encodeName(QCoreApplication::applicationDirPath() + "/../tools/qv_emit")) + " lines:" +
            QByteArray::number(count) + ":" + QByteArray::number(length);

        QEventLoop loop;
        QElapsedTimer clock;
        qint64 last = 0, longestGap = 0;
        int ticks = 0;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longestGap = std::max(longestGap, now - last);
            last = now;
            ++ticks;
        });
        auto terminate = form.DosCommand1->OnTerminate;
        form.DosCommand1->OnTerminate = [&](TDosCommand *sender) {
            terminate(sender);
            loop.quit();
        };
        clock.start();
        tick.start();
        if (!form.DosCommand1->StartCommand(command, QByteArray())) {
            std::printf("could not start %s\n", command.constData());
            return;
        }
        loop.exec();
        const double seconds = clock.nsecsElapsed() / 1e9;
        tick.stop();
        const int rows = form.Output->count() - 1;  // without the end row
        std::printf("%d lines of %d bytes: %d rows in %.3f s = %.0f rows/s; timer ticks %d, longest gap between ticks %.2f ms\n",
                    count, length, rows, seconds, rows / seconds, ticks, longestGap / 1e6);
    }
}
