#include "finddialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <vector>

#include "colouring.h"
#include "textpos.h"

namespace finding {

namespace {

void Select(QPlainTextEdit *control, int docPosition, int length) {
    QTextCursor c(control->document());
    c.setPosition(docPosition);
    c.setPosition(docPosition + length, QTextCursor::KeepAnchor);
    control->setTextCursor(c);
    control->ensureCursorVisible();
}

// Near the caret the search goes line by line; once this many characters
// have been looked at without a match it goes on over one copy of the whole
// text, in which each document position is its own index (a block separator
// is one character, and no search text holds one).
constexpr int kNearChars = 1 << 16;

// The first match that starts at or after the document position `from` and
// before `limit` (-1: the end); -1 when none.
int ForwardFrom(const QTextDocument *doc, int from, int limit, const Request &r) {
    QTextBlock b = doc->findBlock(from);
    int col = from - b.position();
    int budget = kNearChars;
    for (; b.isValid() && budget > 0; b = b.next(), col = 0) {
        if (limit >= 0 && b.position() >= limit) return -1;
        const QString text = b.text();
        const qsizetype at = search::Next(text, r.Pattern, col, r.Options);
        if (at >= 0) {
            const int found = b.position() + int(at);
            return limit < 0 || found < limit ? found : -1;
        }
        budget -= int(text.size()) + 1;
    }
    if (!b.isValid()) return -1;
    const QString raw = doc->toRawText();
    const qsizetype at = search::Next(raw, r.Pattern, b.position(), r.Options);
    return at >= 0 && (limit < 0 || at < limit) ? int(at) : -1;
}

// The last match that starts before the document position `before` and at or
// after `limit`; -1 when none.
int BackwardFrom(const QTextDocument *doc, int before, int limit, const Request &r) {
    QTextBlock b = doc->findBlock(before);
    int budget = kNearChars;
    for (bool first = true; b.isValid() && budget > 0; b = b.previous(), first = false) {
        if (b.position() + b.length() <= limit) return -1;
        const QString text = b.text();
        const qsizetype at =
            search::Previous(text, r.Pattern, first ? before - b.position() : text.size() + 1, r.Options);
        if (at >= 0) {
            const int found = b.position() + int(at);
            return found >= limit ? found : -1;
        }
        budget -= int(text.size()) + 1;
    }
    if (!b.isValid()) return -1;
    const QString raw = doc->toRawText();
    const qsizetype at = search::Previous(raw, r.Pattern, b.position() + b.length(), r.Options);
    return at >= limit ? int(at) : -1;
}

}  // namespace

Result FindNext(QPlainTextEdit *control, const Request &r) {
    if (!control || r.Pattern.isEmpty()) return NotFound;
    const QTextDocument *doc = control->document();
    const QTextCursor cur = control->textCursor();
    const int from = r.Backwards ? cur.selectionStart() : cur.selectionEnd();
    const QTextBlock start = doc->findBlock(from);
    Result result = Found;
    int found = r.Backwards ? BackwardFrom(doc, from, 0, r) : ForwardFrom(doc, from, -1, r);
    if (found < 0 && r.Wrap) {
        // Round from the other end, back to the line where the search began.
        found = r.Backwards ? BackwardFrom(doc, doc->characterCount() - 1, start.position(), r)
                            : ForwardFrom(doc, 0, start.position() + start.length(), r);
        result = Wrapped;
    }
    if (found < 0) return NotFound;
    Select(control, found, int(r.Pattern.size()));
    return result;
}

bool SelectionMatches(const QPlainTextEdit *control, const Request &r) {
    if (!control || r.Pattern.isEmpty()) return false;
    const QTextCursor cur = control->textCursor();
    const int a = cur.selectionStart(), e = cur.selectionEnd();
    if (e - a != r.Pattern.size()) return false;
    const QTextBlock b = control->document()->findBlock(a);
    if (!b.contains(e)) return false;
    return search::MatchesAt(b.text(), a - b.position(), r.Pattern, r.Options);
}

Result ReplaceNext(QPlainTextEdit *control, const Request &r, const QString &replacement, bool *replaced) {
    if (replaced) *replaced = false;
    if (!control || control->isReadOnly()) return NotFound;
    if (SelectionMatches(control, r)) {
        QTextCursor c = control->textCursor();
        c.beginEditBlock();  // an undo step of its own
        c.insertText(replacement);
        c.endEditBlock();
        if (r.Backwards) c.setPosition(c.position() - int(replacement.size()));
        control->setTextCursor(c);
        if (replaced) *replaced = true;
    }
    return FindNext(control, r);
}

int ReplaceAll(QPlainTextEdit *control, const Request &r, const QString &replacement) {
    if (!control || control->isReadOnly() || r.Pattern.isEmpty()) return 0;
    QTextDocument *doc = control->document();
    struct Match {
        int Position;
        int Line;
    };
    std::vector<Match> matches;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        const int base = b.position(), line = b.blockNumber();
        search::ForEach(b.text(), r.Pattern, r.Options,
                        [&](qsizetype at) { matches.push_back({base + int(at), line}); });
    }
    if (matches.empty()) return 0;

    // From the last match to the first, so that the positions still to come
    // stay where they were; all of it one undo step.
    const int blocksBefore = doc->blockCount();
    int added = 0;  // lines that one replacement adds (a replacement with line breaks)
    // Each replacement joins the edit block of the one before: one undo step,
    // and the document reports each change by itself, so the colours of the
    // text between the matches stay as they are.
    QTextCursor c(doc);
    for (size_t i = matches.size(); i-- > 0;) {
        if (i + 1 == matches.size())
            c.beginEditBlock();
        else
            c.joinPreviousEditBlock();
        c.setPosition(matches[i].Position);
        c.setPosition(matches[i].Position + int(r.Pattern.size()), QTextCursor::KeepAnchor);
        c.insertText(replacement);
        c.endEditBlock();
        if (i + 1 == matches.size()) added = doc->blockCount() - blocksBefore;
    }

    // The change event coloured the caret's line; every changed line is
    // coloured as typing there would.
    const QTextCursor kept = control->textCursor();
    QTextCursor caret = kept;
    caret.clearSelection();
    control->setTextCursor(caret);
    const int length = TextLength(doc);
    int done = -1;
    for (size_t i = 0; i < matches.size(); ++i) {
        const int first = matches[i].Line + int(i) * added;
        for (int line = std::max(first, done + 1); line <= first + added; ++line) {
            const QTextBlock b = doc->findBlockByNumber(line);
            if (!b.isValid()) break;
            const int start = textpos::BlockStart(b);
            ColourRange(control, b.blockNumber() == 0 ? 1 : start, b.next().isValid() ? start + b.length() : length);
            done = line;
        }
    }
    control->setTextCursor(kept);
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
    if (QPlainTextEdit *control = Target ? Target() : nullptr) {
        const QString selected = control->textCursor().selectedText();
        if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) FindText->setText(selected);
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
    QPlainTextEdit *control = Target ? Target() : nullptr;
    if (!control) return finding::NotFound;
    const finding::Request r = CurrentRequest(backwards);
    if (r.Pattern.isEmpty()) return finding::NotFound;
    const finding::Result result = finding::FindNext(control, r);
    Report(result, r.Pattern, backwards);
    return result;
}

void TFindDialog::ReplaceClick() {
    QPlainTextEdit *control = Target ? Target() : nullptr;
    if (!control) return;
    const finding::Request r = CurrentRequest(Backwards->isChecked());
    if (r.Pattern.isEmpty()) return;
    Report(finding::ReplaceNext(control, r, ReplaceText->text()), r.Pattern, r.Backwards);
}

void TFindDialog::ReplaceAllClick() {
    QPlainTextEdit *control = Target ? Target() : nullptr;
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
