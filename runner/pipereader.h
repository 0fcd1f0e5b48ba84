#pragma once
// The reader thread of one run of TDosCommand (see tdoscmd.h for the design).
#include "tdoscmd.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class TDosCommand::TPipeReader : public QThread {
public:
    // Takes over `readEnd` (closed when the reader is deleted); `process` stays
    // the component's to reap. The events are the component's, copied now.
    TPipeReader(TDosCommand *command, int readEnd, pid_t process, TOutputCharEvent onOutputChar,
                TOutputLineEvent onOutputLine);
    ~TPipeReader() override;

    // Ends the run early: no byte or line is delivered any more once it is
    // set, and a reader waiting for the pipe or the child wakes up at once.
    void RequestStop();
    bool StopRequested() const { return Stop.load(std::memory_order_acquire); }
    // True on the owner thread while one of the reader's hand-overs runs there.
    bool InDelivery() const { return Delivering > 0; }
    // For a component destroyed while InDelivery(): the reader deletes
    // itself (later, through the event loop) once that delivery has returned.
    void Orphan() { Orphaned = true; }

    // The most that one read gets and one hand-over carries.
    static constexpr int WholeRead = 256 * 1024;

protected:
    void run() override;

private:
    struct TBatch;
    bool ChildEnded() const;
    // Reader thread: splits the bytes into lines and hands bytes and lines
    // over in batches; Post waits while MaxInFlight batches are not yet
    // delivered.
    void HandOver(const char *bytes, int count);
    // Reads into `into`: with `exact`, the `most` bytes that the pipe is
    // known to hold; otherwise at least one byte and whatever else is there
    // at once, up to `most`. The count, 0 at the pipe's end, -1 on an error.
    int ReadAvailable(char *into, int most, bool exact);
    // One read (of `exactly` bytes when that is above 0) handed over; false
    // at the pipe's end.
    bool ReadAndHandOver(int exactly);
    // Hands over `text`, whose bytes from `fresh` on were just read and
    // whose start is the line the last batch left open.
    void HandOverText(QByteArray text, qsizetype fresh);
    // Read buffers that delivered batches gave back, for the next reads.
    QByteArray TakeBuffer();
    void GiveBack(QByteArray &&buffer);
    void Post(std::shared_ptr<TBatch> batch);
    // Owner thread: the batches in the order they were posted, also when a
    // handler runs an event loop of its own.
    void Receive(std::shared_ptr<TBatch> batch);
    void DeliverBatch(const TBatch &batch);
    void DeliverChar();                               // owner thread
    void DeliverLine(const QByteArray &line);         // owner thread

    static constexpr int MaxInFlight = 4;

    const int ReadEnd;
    const pid_t Process;
    int ProcessFd = -1;  // readable once the child has ended; -1: none
    int WakeFd = -1;     // an eventfd, readable once a stop is requested; -1: none
    TDosCommand *const Command;
    char Buffer = 0;    // the byte being delivered
    QByteArray Line;    // the line that the last batch left open; reader thread only
    QByteArray Shown;   // the line being delivered; owner thread only
    const TOutputCharEvent OnOutputChar;
    const TOutputLineEvent OnOutputLine;
    const int Batch;
    std::atomic<bool> Stop{false};
    std::mutex Gate;                 // guards InFlight and Spare
    std::condition_variable Room;    // InFlight went down, or a stop was requested
    int InFlight = 0;                // batches posted and not yet delivered
    std::vector<QByteArray> Spare;   // read buffers to use again
    std::deque<std::shared_ptr<TBatch>> Waiting;  // owner thread: received, not yet delivered
    int Delivering = 0;  // owner thread only
    bool Orphaned = false;  // owner thread only
};
