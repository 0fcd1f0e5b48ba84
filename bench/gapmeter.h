#pragma once
// How long the GUI thread goes without running a 1 ms timer's tick: the
// longest pause a user would feel while the work measured goes on.
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace bench {

class TGapMeter {
public:
    TGapMeter() {
        Tick.setInterval(1);
        QObject::connect(&Tick, &QTimer::timeout, [this] {
            const qint64 now = Clock.nsecsElapsed();
            Longest = std::max(Longest, now - Last);
            Last = now;
        });
    }
    void Start() {
        Last = Longest = 0;
        Clock.start();
        Tick.start();
    }
    void Stop() { Tick.stop(); }
    double Seconds() const { return double(Clock.nsecsElapsed()) / 1e9; }
    double LongestMs() const { return double(Longest) / 1e6; }

private:
    QElapsedTimer Clock;
    QTimer Tick;
    qint64 Last = 0, Longest = 0;
};

}  // namespace bench
