#pragma once
// TRunProgram: runs a built MS-DOS program in DOSBox, one run at a time, from
// a run folder of its own (dosrun.h), and hands what the program prints to
// the owner thread (the GUI thread) line by line.
//
// Without a window DOSBox runs on SDL's dummy drivers; the program's standard
// output goes to a file in the run folder, which is read while DOSBox runs
// (DOSBox writes it in blocks of a few KiB, so a long output arrives as it
// grows and a short one when the program ends) and cut into lines as the
// command runner cuts them: LF ends a line, one CR before it goes, the text
// after the last LF is one more line. In a window the program has DOSBox's
// screen and keyboard and no line arrives.
//
// DOSBox leads a process group of its own. Stop sends that group SIGTERM and,
// after StopGraceMs, SIGKILL; destroying a running TRunProgram sends SIGKILL
// at once and waits for DOSBox. Whatever way a run ends, its run folder is
// removed. A program whose output passes OutputLimit bytes is stopped.
//
// OnTerminate comes once per started run, after the last line: with the
// program's exit code (ERRORLEVEL) when it ended by itself, or the reason it
// didn't. The owner thread must run an event loop while a program runs.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <sys/types.h>

class QTemporaryDir;
class QTimer;

class TRunProgram : public QObject {
    Q_OBJECT
public:
    enum TStart { Started, Busy, NoDosBox, NoProgram, CannotPrepare };
    enum TEnd {
        Ended,           // the program ended; the exit code is its ERRORLEVEL
        Stopped,         // Stop ended it
        TooMuchOutput,   // its output passed OutputLimit and it was stopped
        DosBoxFailed,    // DOSBox ended without the program's exit code (DosBoxLog says more)
    };
    using TOutputLineEvent = std::function<void(const QByteArray &line)>;
    using TTerminateEvent = std::function<void(TEnd how, int exitCode)>;

    explicit TRunProgram(QObject *parent = nullptr);
    ~TRunProgram() override;

    // Starts `program` (its folder becomes drive C:). Busy while a run is in
    // progress; NoDosBox when "dosbox" is in no absolute directory of PATH;
    // NoProgram when program is no file; CannotPrepare (with *error) when the
    // run folder can't be made or filled or DOSBox can't be started.
    TStart Start(const QString &program, bool window, QString *error = nullptr);
    // False when no run is in progress or it is already being stopped.
    bool Stop();
    bool IsRunning() const { return Pid > 0; }

    TOutputLineEvent OnOutputLine;
    TTerminateEvent OnTerminate;
    int StopGraceMs = 1000;
    int PollMs = 20;                          // how often the output and DOSBox are looked at
    qint64 OutputLimit = 64 * 1024 * 1024;

    // The run folder of the run in progress (empty when none).
    QString RunFolder() const;
    // The last lines DOSBox itself printed in the latest run.
    QList<QByteArray> DosBoxLog() const { return Log; }

    // The Output pane's rows of a run.
    static QString StartLine(const QString &program, bool window);  // "- P の実行を開始します…" / "- P を DOSBox のウィンドウで実行します…"
    static QString EndLine(int exitCode);                           // "- 実行終了 (終了コード N)。"
    static const QString StoppedEndLine;   // "- 実行終了。"
    static const QString StoppedLine;      // "* 実行を中止しました。"
    static const QString TooMuchLine;      // "* 出力が多すぎるため、実行を中止しました。"
    static const QString FailedLine;       // "* DOSBox がプログラムを最後まで実行できませんでした。"
    static const QString NoDosBoxLine;     // "* DOSBox (dosbox) が見つかりません。…"
    static const QString NotBuiltLine;     // "* ビルドが成功しなかったため、実行しません。"
    static QString NoProgramLine(const QString &program);
    static QString CannotPrepareLine(const QString &why);

private:
    void Poll();
    void ReadLog();
    void ReadOutput(bool last);
    void Finish();

    std::unique_ptr<QTemporaryDir> Folder;
    QTimer *Timer = nullptr;
    QTimer *Grace = nullptr;
    pid_t Pid = -1;
    int LogFd = -1;
    bool Window = false;
    bool Stopping = false;
    bool OverLimit = false;
    qint64 Offset = 0;         // of the output file, read so far
    QByteArray Pending;        // the output's line that is not ended yet
    QByteArray LogPending;
    QList<QByteArray> Log;
};
