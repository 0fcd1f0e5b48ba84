#include "projectsearch.h"

#include <QApplication>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>

#include "errorreport.h"
#include "qverror.h"
#include "safewrite.h"
#include "sourcetext.h"

namespace {

constexpr size_t kBatchRows = 256;                         // rows handed over at once at most
constexpr auto kBatchTime = std::chrono::milliseconds(20);  // and at least this often while rows wait

bool IsBreak(QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::ParagraphSeparator; }

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
    const qsizetype n = text.size();
    qsizetype start = 0;
    int line = 1;
    for (qsizetype i = 0;; ++i) {
        if (i < n && !IsBreak(text[i])) continue;
        const QStringView l = text.mid(start, i - start);
        search::ForEach(l, pattern, options, [&](qsizetype at) {
            TSearchRow r;
            r.Text = QStringLiteral("%1 %2: %3").arg(path, QString::number(line), Shown(l, at));
            r.Path = path;
            r.Line = line;
            r.Column = int(at);
            r.Length = int(pattern.size());
            row(std::move(r));
        });
        if (i == n || (stop && (line & 4095) == 0 && *stop)) break;
        if (text[i] == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n')) ++i;
        start = i + 1;
        ++line;
    }
}

void TProjectSearch::Work(TProjectSearch *self, std::shared_ptr<State> state, int run,
                          std::vector<TSearchSource> sources, QString pattern, search::Options options) {
    using Clock = std::chrono::steady_clock;
    std::vector<TSearchRow> batch;
    auto sent = Clock::now();
    auto post = [&](bool last, int matches, int files, bool cancelled) {
        QMetaObject::invokeMethod(
            self,
            [self, run, rows = std::move(batch), last, matches, files, cancelled]() mutable {
                self->Deliver(run, std::move(rows), last, matches, files, cancelled);
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

    int matches = 0, files = 0, searched = 0;
    for (TSearchSource &source : sources) {
        if (state->Cancel) break;
        ++searched;
        QString text;
        if (source.Open) {
            text = source.Text.Slice(0, source.Text.Length());
            source.Text = textstore::TText();
        } else {
            try {
                text = sourcetext::Decode(ReadWholeFile(source.Path)).Text;
            } catch (const EQvError &e) {
                note(QStringLiteral("* ") + e.Message);
                continue;
            } catch (const std::bad_alloc &) {
                note(QStringLiteral("* %1: %2").arg(source.Path, OutOfMemoryMessage()));
                continue;
            } catch (const std::exception &e) {
                note(QStringLiteral("* %1: %2").arg(source.Path, ForeignErrorMessage(e)));
                continue;
            }
        }
        int here = 0;
        SearchText(source.Path, text, pattern, options, [&](TSearchRow &&r) {
            ++here;
            if (matches++ < MaxRows) add(std::move(r));
        }, &state->Cancel);
        if (here > 0) ++files;
    }
    const bool cancelled = state->Cancel;
    if (matches > MaxRows)
        note(QStringLiteral("* 一致が多すぎるため、最初の %1 件だけを表示しています").arg(MaxRows));
    const QString counts = QStringLiteral("%1 件、%2 ファイル (検索したファイル %3)").arg(matches).arg(files).arg(searched);
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
