#include "finddialog.h"

#include "qverror.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <vector>

#include "childwin.h"
#include "colouring.h"
#include "richedit.h"
#include "textpos.h"

namespace finding {

namespace {

// Selects T[position, position + length) and brings its line into view.
void Select(TRichEdit *control, int position, int length) {
    control->SetSelection(position, position + length);
    const int line = control->Text()->LineOf(position);
    control->ShowLines(line, line, kContextLines);
    control->ensureCursorVisible();
}

// The first match that starts at or after `from` and before `limit` (-1: the
// end); -1 when none. Line by line, each line read where it lies.
int ForwardFrom(const TText &text, int from, int limit, const Request &r) {
    QString buffer;
    const int lines = text.LineCount();
    int line = text.LineOf(from);
    int col = from - text.LineStart(line);
    for (; line < lines; ++line, col = 0) {
        const int start = text.LineStart(line);
        if (limit >= 0 && start >= limit) return -1;
        const qsizetype at = search::Next(text.LineView(line, buffer), r.Pattern, col, r.Options);
        if (at >= 0) {
            const int found = start + int(at);
            return limit < 0 || found < limit ? found : -1;
        }
    }
    return -1;
}

// The last match that starts before `before` and at or after `limit`; -1 when none.
int BackwardFrom(const TText &text, int before, int limit, const Request &r) {
    QString buffer;
    for (int line = text.LineOf(before), first = 1; line >= 0; --line, first = 0) {
        if (text.LineEnd(line) < limit) return -1;
        const int start = text.LineStart(line);
        const QStringView view = text.LineView(line, buffer);
        const qsizetype at = search::Previous(view, r.Pattern, first ? before - start : view.size() + 1, r.Options);
        if (at >= 0) {
            const int found = start + int(at);
            return found >= limit ? found : -1;
        }
    }
    return -1;
}

}  // namespace

Result FindNext(TRichEdit *control, const Request &r) {
    if (!control || r.Pattern.isEmpty()) return NotFound;
    const TText &text = *control->Text();
    const int from = r.Backwards ? control->SelectionStart() : control->SelectionEnd();
    const int startLine = text.LineOf(from);
    Result result = Found;
    int found = r.Backwards ? BackwardFrom(text, from, 0, r) : ForwardFrom(text, from, -1, r);
    if (found < 0 && r.Wrap) {
        // Round from the other end, back to the line where the search began.
        found = r.Backwards ? BackwardFrom(text, text.Length(), text.LineStart(startLine), r)
                            : ForwardFrom(text, 0,
                                          startLine + 1 < text.LineCount() ? text.LineStart(startLine + 1)
                                                                           : text.Length() + 1,
                                          r);
        result = Wrapped;
    }
    if (found < 0) return NotFound;
    Select(control, found, int(r.Pattern.size()));
    return result;
}

bool SelectionMatches(const TRichEdit *control, const Request &r) {
    if (!control || r.Pattern.isEmpty()) return false;
    const int a = control->SelectionStart(), e = control->SelectionEnd();
    if (e - a != r.Pattern.size()) return false;
    const TText &text = *control->Text();
    const int line = text.LineOf(a);
    if (e > text.LineEnd(line)) return false;
    QString buffer;
    return search::MatchesAt(text.LineView(line, buffer), a - text.LineStart(line), r.Pattern, r.Options);
}

Result ReplaceNext(TRichEdit *control, const Request &r, const QString &replacement, bool *replaced) {
    if (replaced) *replaced = false;
    if (!control || control->isReadOnly()) return NotFound;
    if (SelectionMatches(control, r)) {
        const int at = control->SelectionStart();
        control->insertPlainText(replacement);  // an undo step of its own
        if (r.Backwards) control->SetSelection(at, at);
        if (replaced) *replaced = true;
    }
    return FindNext(control, r);
}

int ReplaceAll(TRichEdit *control, const Request &r, const QString &replacement) {
    if (!control || control->isReadOnly() || r.Pattern.isEmpty()) return 0;
    TTextStore *text = control->Text();
    struct Match {
        int Position;
        int Line;
    };
    std::vector<Match> matches;
    {
        // The text is searched a piece at a time as it lies in the store, in
        // stretches of whole lines (a match never holds a line break); a line
        // that runs on from one piece into the next is put together first.
        const search::TFinder finder(r.Pattern, r.Options);
        auto search = [&](QStringView lines, int base) {
            finder.ForEach(lines, [&](qsizetype at) { matches.push_back({base + int(at), 0}); });
        };
        QString carry;  // the start of a line that runs on into the next piece
        int carryBase = 0, base = 0;
        text->Chunks([&](QStringView piece, const textstore::LineEnd *, const textstore::OtherCodes &) {
            const qsizetype lastLf = piece.lastIndexOf(QLatin1Char('\n'));
            if (lastLf < 0) {
                if (carry.isEmpty()) carryBase = base;
                carry += piece;
            } else {
                qsizetype from = 0;
                if (!carry.isEmpty()) {
                    from = piece.indexOf(QLatin1Char('\n')) + 1;
                    carry += piece.left(from);
                    search(carry, carryBase);
                    carry.clear();
                }
                search(piece.mid(from, lastLf + 1 - from), base + int(from));
                if (lastLf + 1 < piece.size()) {
                    carry = piece.mid(lastLf + 1).toString();
                    carryBase = base + int(lastLf) + 1;
                }
            }
            base += int(piece.size());
        });
        if (!carry.isEmpty()) search(carry, carryBase);
        for (Match &m : matches) m.Line = text->LineOf(m.Position);
    }
    if (matches.empty()) return 0;
    // Heard of once every changed line has its colours.
    const TRichEdit::THold hold(control);

    // All of it one undo step, the text between the matches untouched, so
    // that it keeps its colours.
    std::vector<TTextStore::Replacement> edits;
    edits.reserve(matches.size());
    for (const Match &m : matches) edits.push_back({m.Position, int(r.Pattern.size()), replacement});
    const int linesBefore = text->LineCount();
    if (!text->ReplaceMany(std::move(edits), control->Anchor(), control->Caret()))
        throw EQvError(QStringLiteral("置換すると文字数が上限 (%1 文字) を超えるため、置換しませんでした")
                           .arg(TText::kMaxLength));
    const int added = matches.size() ? (text->LineCount() - linesBefore) / int(matches.size()) : 0;

    // The change event coloured the caret's line; every changed line is
    // coloured as typing there would.
    const int anchor = control->Anchor(), caret = control->Caret();
    control->SetSelection(caret, caret);
    int done = -1;
    for (size_t i = 0; i < matches.size(); ++i) {
        const int first = matches[i].Line + int(i) * added;
        for (int line = std::max(first, done + 1); line <= first + added && line < text->LineCount(); ++line) {
            int from = 0, to = 0;
            colouring::LineRange(*text, line, from, to);
            ColourRange(control, from, to);
            done = line;
        }
    }
    control->SetSelection(anchor, caret);
    return int(matches.size());
}

}  // namespace finding

// ---- The find/replace dialog ----------------------------------------------

TFindDialog::TFindDialog(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FindDialog"));
    setModal(false);
    setWindowTitle(QStringLiteral("検索"));
    FindText = new QLineEdit(this);
    ReplaceText = new QLineEdit(this);
    auto *findLabel = new QLabel(QStringLiteral("検索する文字列(&N):"), this);
    findLabel->setBuddy(FindText);
    ReplaceLabel = new QLabel(QStringLiteral("置換後の文字列(&P):"), this);
    ReplaceLabel->setBuddy(ReplaceText);
    MatchCase = new QCheckBox(QStringLiteral("大文字と小文字を区別する(&C)"), this);
    WholeWord = new QCheckBox(QStringLiteral("単語単位で探す(&W)"), this);
    Backwards = new QCheckBox(QStringLiteral("上へ検索する(&U)"), this);
    WrapAround = new QCheckBox(QStringLiteral("末尾まで来たら先頭から検索する(&O)"), this);
    WrapAround->setChecked(true);
    FindButton = new QPushButton(QStringLiteral("次を検索(&F)"), this);
    ReplaceButton = new QPushButton(QStringLiteral("置換して次へ(&R)"), this);
    ReplaceAllButton = new QPushButton(QStringLiteral("すべて置換(&A)"), this);
    CloseButton = new QPushButton(QStringLiteral("閉じる"), this);
    FindButton->setDefault(true);
    Status = new QLabel(this);

    auto *grid = new QGridLayout;
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(FindText, 0, 1);
    grid->addWidget(ReplaceLabel, 1, 0);
    grid->addWidget(ReplaceText, 1, 1);
    auto *checks = new QVBoxLayout;
    for (QCheckBox *b : {MatchCase, WholeWord, Backwards, WrapAround}) checks->addWidget(b);
    grid->addLayout(checks, 2, 0, 1, 2);
    auto *buttons = new QVBoxLayout;
    for (QPushButton *b : {FindButton, ReplaceButton, ReplaceAllButton, CloseButton}) buttons->addWidget(b);
    buttons->addStretch();
    auto *top = new QHBoxLayout;
    top->addLayout(grid, 1);
    top->addLayout(buttons);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(top);
    outer->addWidget(Status);

    connect(FindButton, &QPushButton::clicked, this, [this] { FindAgain(Backwards->isChecked()); });
    connect(ReplaceButton, &QPushButton::clicked, this, &TFindDialog::ReplaceClick);
    connect(ReplaceAllButton, &QPushButton::clicked, this, &TFindDialog::ReplaceAllClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
}

void TFindDialog::ShowFor(bool replace) {
    setWindowTitle(replace ? QStringLiteral("置換") : QStringLiteral("検索"));
    for (QWidget *w : {static_cast<QWidget *>(ReplaceLabel), static_cast<QWidget *>(ReplaceText),
                       static_cast<QWidget *>(ReplaceButton), static_cast<QWidget *>(ReplaceAllButton)})
        w->setVisible(replace);
    // A selection within one line is what the user most likely looks for.
    if (TRichEdit *control = Target ? Target() : nullptr) {
        const QString selected = control->SelectedText();
        if (!selected.isEmpty() && !selected.contains(QLatin1Char('\n'))) FindText->setText(selected);
    }
    Status->clear();
    show();
    raise();
    activateWindow();
    FindText->setFocus();
    FindText->selectAll();
}

finding::Request TFindDialog::CurrentRequest(bool backwards) const {
    finding::Request r;
    r.Pattern = FindText->text();
    r.Options.MatchCase = MatchCase->isChecked();
    r.Options.WholeWord = WholeWord->isChecked();
    r.Backwards = backwards;
    r.Wrap = WrapAround->isChecked();
    return r;
}

void TFindDialog::Say(const QString &text) {
    Status->setText(text);
    emit Note(text);
}

void TFindDialog::Report(finding::Result result, const QString &pattern, bool backwards) {
    switch (result) {
    case finding::NotFound: Say(QStringLiteral("「%1」は見つかりませんでした").arg(pattern)); break;
    case finding::Wrapped:
        Say(backwards ? QStringLiteral("先頭まで検索したので、末尾から検索しました")
                      : QStringLiteral("末尾まで検索したので、先頭から検索しました"));
        break;
    case finding::Found: Say(QString()); break;
    }
}

finding::Result TFindDialog::FindAgain(bool backwards) {
    TRichEdit *control = Target ? Target() : nullptr;
    if (!control) return finding::NotFound;
    const finding::Request r = CurrentRequest(backwards);
    if (r.Pattern.isEmpty()) return finding::NotFound;
    const finding::Result result = finding::FindNext(control, r);
    Report(result, r.Pattern, backwards);
    return result;
}

void TFindDialog::ReplaceClick() {
    TRichEdit *control = Target ? Target() : nullptr;
    if (!control) return;
    const finding::Request r = CurrentRequest(Backwards->isChecked());
    if (r.Pattern.isEmpty()) return;
    Report(finding::ReplaceNext(control, r, ReplaceText->text()), r.Pattern, r.Backwards);
}

void TFindDialog::ReplaceAllClick() {
    TRichEdit *control = Target ? Target() : nullptr;
    if (!control) return;
    const finding::Request r = CurrentRequest(false);
    if (r.Pattern.isEmpty()) return;
    const int n = finding::ReplaceAll(control, r, ReplaceText->text());
    if (n == 0)
        Report(finding::NotFound, r.Pattern, false);
    else
        Say(QStringLiteral("%1 個置換しました").arg(n));
}

// ---- Go to line -------------------------------------------------------------

TGoToLineDialog::TGoToLineDialog(int lineCount, int current, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("GoToLineDialog"));
    setWindowTitle(QStringLiteral("行へ移動"));
    lineCount = std::max(lineCount, 1);
    Prompt = new QLabel(QStringLiteral("行番号 (1 - %1)(&L):").arg(lineCount), this);
    Line = new QSpinBox(this);
    Line->setRange(1, lineCount);
    Line->setValue(std::clamp(current, 1, lineCount));
    Prompt->setBuddy(Line);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    box->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Prompt);
    layout->addWidget(Line);
    layout->addWidget(box);
    Line->selectAll();
    Line->setFocus();
}

int TGoToLineDialog::Ask(QWidget *parent, int lineCount, int current) {
    TGoToLineDialog d(lineCount, current, parent);
    if (d.exec() != QDialog::Accepted) return 0;
    d.Line->interpretText();
    return d.Line->value();
}
