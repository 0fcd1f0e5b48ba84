#pragma once
#include "textstore.h"
// Find in the project: every file of the project tree is searched off the GUI
// thread, an open document in its current text, any other file as it is on
// disk, read as a load decodes it. Files are searched on as many threads as
// there are cores, and their rows listed in tree order. A file on disk is
// searched in its bytes first (sjisscan.h): only the lines that may hold a
// match are decoded and searched as text. The rows come back to the GUI thread
// in small batches, so that the window keeps responding while a large project
// is searched; a search can be cancelled at any time.
//
// Rows: one per match, "path line: text of the line" (the line without its
// leading blanks, cut to a width around the match); one "* " row for a file
// that cannot be read (the search goes on); and a last "- " row with the
// number of matches and of files.

#include <QDialog>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "search.h"

class QCheckBox;
class QLineEdit;

namespace sjis {
class BytePattern;
}

// A row of the search results: its text, and for a match where it is.
struct TSearchRow {
    QString Text;
    QString Path;    // empty for a row that is no match
    int Line = 0;    // 1-based
    int Column = 0;  // within the line, in characters
    int Length = 0;
};

// One file to search: an open document's text (a snapshot of its store, read
// on the search's thread) or, when Open is false, the file on disk.
struct TSearchSource {
    QString Path;
    bool Open = false;
    textstore::TText Text;
};

class TProjectSearch : public QObject {
    Q_OBJECT
public:
    explicit TProjectSearch(QObject *parent = nullptr);
    ~TProjectSearch() override;  // cancels a running search and waits for its thread

    // The longest text shown of a line, in characters.
    static constexpr int RowWidth = 160;
    // Matches beyond this many are counted but not listed.
    static constexpr int MaxRows = 100000;

    // Starts a search; one that is running is cancelled first and its rows
    // are dropped.
    void Start(std::vector<TSearchSource> sources, const QString &pattern, const search::Options &options);
    // Cancels a running search; OnFinished still comes, with cancelled set.
    void Cancel();
    bool Running() const { return Busy; }

    // On the GUI thread: rows as they are found, and the end of the search
    // (after its last rows, the count row included).
    std::function<void(const std::vector<TSearchRow> &rows)> OnRows;
    std::function<void(int matches, int files, bool cancelled)> OnFinished;

    // The text shown for a line holding a match at `column`.
    static QString Shown(QStringView line, qsizetype column);
    // The rows of one file's text (the pure part of the search); stops early
    // once *stop is set.
    static void SearchText(const QString &path, QStringView text, const QString &pattern,
                           const search::Options &options, const std::function<void(TSearchRow &&)> &row,
                           const std::atomic<bool> *stop = nullptr);
    // The same rows from the file's Shift-JIS bytes; `bytes` is `pattern`
    // made for the same options.
    static void SearchBytes(const QString &path, QByteArrayView file, const sjis::BytePattern &bytes,
                            const QString &pattern, const search::Options &options,
                            const std::function<void(TSearchRow &&)> &row, const std::atomic<bool> *stop = nullptr);

private:
    struct State {
        std::atomic<bool> Cancel{false};
    };
    void Stop();
    void Deliver(int run, std::vector<TSearchRow> rows, bool last, int matches, int files, bool cancelled);
    static void Work(TProjectSearch *self, std::shared_ptr<State> state, int run, std::vector<TSearchSource> sources,
                     QString pattern, search::Options options);

    std::thread Worker;
    std::shared_ptr<State> Current;
    int Run = 0;
    bool Busy = false;
};

// The question before a search in the project: the text and the two options.
class TProjectFindDialog : public QDialog {
    Q_OBJECT
public:
    explicit TProjectFindDialog(QWidget *parent = nullptr);
    QLineEdit *FindText = nullptr;
    QCheckBox *MatchCase = nullptr;
    QCheckBox *WholeWord = nullptr;
};
