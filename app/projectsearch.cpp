#include "projectsearch.h"

#include <QApplication>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "errorreport.h"
#include "qverror.h"
#include "safewrite.h"
#include "sjis.h"
#include "sjisscan.h"

namespace {

constexpr size_t kBatchRows = 256;                         // rows handed over at once at most
constexpr auto kBatchTime = std::chrono::milliseconds(20);  // and at least this often while rows wait

bool IsBreak(QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::ParagraphSeparator; }

constexpr qsizetype kTextPiece = qsizetype(1) << 20;  // characters searched between looks at the stop flag

// Calls f(line, number, column) for each match in text. The text is searched
// whole rather than line by line: a match lies within one line (the search
// text holds no line break), and the rule looks no further than the
// characters just beside a match, where a line break is as good as the line's
// end (no word character, no half of a pair). It is searched a piece of about
// a megabyte at a time, each ending after a line break.
template <class F>
void MatchesInText(QStringView text, const QString &pattern, const search::Options &options, F &&f,
                   const std::atomic<bool> *stop) {
    const qsizetype n = text.size();
    qsizetype start = 0;    // where the line of the last match starts...
    int line = 1;           // ...and its number
    qsizetype counted = 0;  // the line breaks before this are counted
    int found = 0;
    for (qsizetype from = 0, pieceEnd = 0; from < n; from = pieceEnd) {
        if (stop && *stop) return;
        pieceEnd = std::min(n, from + kTextPiece);
        while (pieceEnd < n && !IsBreak(text[pieceEnd - 1])) ++pieceEnd;
        const QStringView piece = text.first(pieceEnd);
        for (qsizetype at = search::Next(piece, pattern, from, options); at >= 0;
             at = search::Next(piece, pattern, at + pattern.size(), options)) {
            for (; counted < at; ++counted) {
                if (!IsBreak(text[counted])) continue;
                if (text[counted] == QLatin1Char('\r') && counted + 1 < n && text[counted + 1] == QLatin1Char('\n'))
                    ++counted;
                start = counted + 1;
                ++line;
            }
            qsizetype end = at + pattern.size();
            while (end < n && !IsBreak(text[end])) ++end;
            f(text.sliced(start, end - start), line, at - start);
            if (stop && (++found & 4095) == 0 && *stop) return;
        }
    }
}

// The same from Shift-JIS bytes: only the lines that the bytes show may hold
// a match are decoded.
template <class F>
void MatchesInBytes(QByteArrayView file, const sjis::BytePattern &bytes, const QString &pattern,
                    const search::Options &options, F &&f, const std::atomic<bool> *stop) {
    bytes.ForEachLine(file, [&](int number, qsizetype start, qsizetype end) {
        const QString line = sjis::decode(file.sliced(start, end - start));
        search::ForEach(line, pattern, options, [&](qsizetype at) { f(QStringView(line), number, at); });
        return true;
    }, stop);
}

TSearchRow MakeRow(const QString &path, QStringView line, int number, qsizetype at, qsizetype length) {
    TSearchRow r;
    r.Text = QStringLiteral("%1 %2: %3").arg(path, QString::number(number), TProjectSearch::Shown(line, at));
    r.Path = path;
    r.Line = number;
    r.Column = int(at);
    r.Length = int(length);
    return r;
}

}  // namespace

TProjectSearch::TProjectSearch(QObject *parent) : QObject(parent) {}

TProjectSearch::~TProjectSearch() { Stop(); }

void TProjectSearch::Stop() {
    if (Current) Current->Cancel = true;
    if (Worker.joinable()) Worker.join();
    Current.reset();
    Busy = false;
}

void TProjectSearch::Start(std::vector<TSearchSource> sources, const QString &pattern, const search::Options &options) {
    Stop();
    ++Run;
    Current = std::make_shared<State>();
    Busy = true;
    Worker = std::thread(&TProjectSearch::Work, this, Current, Run, std::move(sources), pattern, options);
}

void TProjectSearch::Cancel() {
    if (Current) Current->Cancel = true;
}

void TProjectSearch::Deliver(int run, std::vector<TSearchRow> rows, bool last, int matches, int files, bool cancelled) {
    if (run != Run) return;  // rows of a search that was replaced by another
    if (OnRows && !rows.empty()) OnRows(rows);
    if (!last) return;
    if (Worker.joinable()) Worker.join();  // it has nothing left to do
    Current.reset();
    Busy = false;
    if (OnFinished) OnFinished(matches, files, cancelled);
}

QString TProjectSearch::Shown(QStringView line, qsizetype column) {
    qsizetype start = 0;
    while (start < line.size() && (line[start] == QLatin1Char(' ') || line[start] == QLatin1Char('\t'))) ++start;
    qsizetype end = line.size();
    bool cutBefore = false, cutAfter = false;
    if (end - start > RowWidth) {
        // A window that shows the match with some of what stands before it.
        const qsizetype from = std::clamp<qsizetype>(column - RowWidth / 4, start, end - RowWidth);
        cutBefore = from > start;
        start = from;
        if (start > 0 && line[start].isLowSurrogate() && line[start - 1].isHighSurrogate()) ++start;
        cutAfter = start + RowWidth < end;
        end = std::min(end, start + RowWidth);
        if (end < line.size() && line[end].isLowSurrogate() && line[end - 1].isHighSurrogate()) --end;
    }
    QString out;
    out.reserve(end - start + 2);
    if (cutBefore) out += QChar(0x2026);
    for (qsizetype i = start; i < end; ++i) {
        const QChar c = line[i];
        out += c.unicode() < 0x20 || c.unicode() == 0x7F ? QLatin1Char(' ') : c;  // a tab shows as a blank
    }
    if (cutAfter) out += QChar(0x2026);
    return out;
}

void TProjectSearch::SearchText(const QString &path, QStringView text, const QString &pattern,
                                const search::Options &options, const std::function<void(TSearchRow &&)> &row,
                                const std::atomic<bool> *stop) {
    MatchesInText(text, pattern, options, [&](QStringView line, int number, qsizetype at) {
        row(MakeRow(path, line, number, at, pattern.size()));
    }, stop);
}

void TProjectSearch::SearchBytes(const QString &path, QByteArrayView file, const sjis::BytePattern &bytes,
                                 const QString &pattern, const search::Options &options,
                                 const std::function<void(TSearchRow &&)> &row, const std::atomic<bool> *stop) {
    MatchesInBytes(file, bytes, pattern, options, [&](QStringView line, int number, qsizetype at) {
        row(MakeRow(path, line, number, at, pattern.size()));
    }, stop);
}

void TProjectSearch::Work(TProjectSearch *self, std::shared_ptr<State> state, int run,
                          std::vector<TSearchSource> sources, QString pattern, search::Options options) {
    using Clock = std::chrono::steady_clock;
    const sjis::BytePattern bytes(pattern, options.MatchCase);
    const size_t count = sources.size();

    // What one file gave and is not listed yet: its rows (no more than can
    // still be listed), its matches, or the note of a file that cannot be read.
    struct Found {
        std::vector<TSearchRow> Rows;
        int Matches = 0;
        bool Any = false;  // a match, listed or not
        QString Note;
        bool Ready = false;
    };
    std::vector<Found> found(count);

    // The files are listed in order as soon as each one and all before it
    // are searched, whatever thread completes that run; the first file not
    // listed hands over its rows while it is searched.
    std::mutex lock;
    std::condition_variable listedMore;
    std::atomic<size_t> listed{0};      // files listed
    std::atomic<int> listedMatches{0};  // their matches, and those handed over
    int matches = 0, files = 0;
    std::vector<TSearchRow> batch;
    auto sent = Clock::now();
    auto post = [&](bool last, int m, int f, bool cancelled) {
        QMetaObject::invokeMethod(
            self,
            [self, run, rows = std::move(batch), last, m, f, cancelled]() mutable {
                self->Deliver(run, std::move(rows), last, m, f, cancelled);
            },
            Qt::QueuedConnection);
        batch = {};
        sent = Clock::now();
    };
    auto add = [&](TSearchRow &&r) {
        batch.push_back(std::move(r));
        if (batch.size() >= kBatchRows || Clock::now() - sent >= kBatchTime) post(false, 0, 0, false);
    };
    auto note = [&](const QString &text) {
        TSearchRow r;
        r.Text = text;
        add(std::move(r));
    };
    auto handOver = [&](Found &f) {  // with the lock held
        if (!f.Note.isEmpty()) note(f.Note);
        for (TSearchRow &r : f.Rows)
            if (matches++ < MaxRows) add(std::move(r));
        matches += f.Matches - int(f.Rows.size());
        f.Rows.clear();
        f.Matches = 0;
        listedMatches = matches;
    };
    auto listReady = [&] {  // with the lock held
        for (; listed < count && found[listed].Ready; ++listed) {
            Found &f = found[listed];
            handOver(f);
            if (f.Any) ++files;
            f = Found{};
            f.Ready = true;
        }
        listedMore.notify_all();
    };

    // A thread takes the next file that is not taken, but runs no further
    // ahead of the listing than this many files, so that what waits to be
    // listed stays small.
    const int threads = std::max(1, QThread::idealThreadCount());
    const size_t ahead = size_t(8 * threads);
    std::atomic<size_t> next{0};
    auto searchFiles = [&] {
        for (;;) {
            const size_t i = next++;
            if (i >= count || state->Cancel) return;
            {
                std::unique_lock<std::mutex> l(lock);
                while (i >= listed + ahead && !state->Cancel) listedMore.wait_for(l, std::chrono::milliseconds(20));
            }
            if (state->Cancel) return;
            TSearchSource &source = sources[i];
            Found f;
            auto handed = Clock::now();
            auto match = [&](QStringView line, int number, qsizetype at) {
                // A row is made only while it can still be listed.
                if (int(f.Rows.size()) < MaxRows - listedMatches)
                    f.Rows.push_back(MakeRow(source.Path, line, number, at, pattern.size()));
                ++f.Matches;
                f.Any = true;
                if ((f.Rows.size() >= kBatchRows || Clock::now() - handed >= kBatchTime) && listed == i) {
                    std::lock_guard<std::mutex> l(lock);
                    handOver(f);
                    handed = Clock::now();
                }
            };
            if (source.Open) {
                const QString text = source.Text.Slice(0, source.Text.Length());
                source.Text = textstore::TText();
                MatchesInText(text, pattern, options, match, &state->Cancel);
            } else {
                QByteArray file;
                try {
                    file = ReadWholeFile(source.Path);
                } catch (const EQvError &e) {
                    f.Note = QStringLiteral("* ") + e.Message;
                } catch (const std::bad_alloc &) {
                    f.Note = QStringLiteral("* %1: %2").arg(source.Path, OutOfMemoryMessage());
                } catch (const std::exception &e) {
                    f.Note = QStringLiteral("* %1: %2").arg(source.Path, ForeignErrorMessage(e));
                }
                if (f.Note.isEmpty()) MatchesInBytes(file, bytes, pattern, options, match, &state->Cancel);
            }
            f.Ready = true;
            std::lock_guard<std::mutex> l(lock);
            found[i] = std::move(f);
            listReady();
        }
    };
    std::vector<std::thread> helpers;
    try {
        for (int t = 1; t < threads && size_t(t) < count; ++t) helpers.emplace_back(searchFiles);
    } catch (const std::system_error &) {
        // No more threads to be had: those there are search every file.
    }
    searchFiles();
    for (std::thread &t : helpers) t.join();

    const bool cancelled = state->Cancel;
    if (matches > MaxRows)
        note(QStringLiteral("* 一致が多すぎるため、最初の %1 件だけを表示しています").arg(MaxRows));
    const QString counts =
        QStringLiteral("%1 件、%2 ファイル (検索したファイル %3)").arg(matches).arg(files).arg(qsizetype(listed.load()));
    note(cancelled ? QStringLiteral("* 検索を中止しました: ") + counts
                   : QStringLiteral("- 「%1」: ").arg(pattern) + counts);
    post(true, matches, files, cancelled);
}

TProjectFindDialog::TProjectFindDialog(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ProjectFindDialog"));
    setWindowTitle(QStringLiteral("プロジェクト内を検索"));
    FindText = new QLineEdit(this);
    auto *label = new QLabel(QStringLiteral("検索する文字列(&N):"), this);
    label->setBuddy(FindText);
    MatchCase = new QCheckBox(QStringLiteral("大文字と小文字を区別する(&C)"), this);
    WholeWord = new QCheckBox(QStringLiteral("単語単位で探す(&W)"), this);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    box->button(QDialogButtonBox::Ok)->setText(QStringLiteral("検索"));
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(FindText);
    layout->addWidget(MatchCase);
    layout->addWidget(WholeWord);
    layout->addWidget(box);
    FindText->setFocus();
    // The window manager draws the title in its own font, often larger and
    // bold, beside an icon and three buttons: room for half as much again and
    // 140 pixels, so that the title is not cut.
    const int title = QFontMetrics(QApplication::font()).horizontalAdvance(windowTitle());
    setMinimumWidth(std::max(minimumSizeHint().width(), title * 3 / 2 + 140));
}
