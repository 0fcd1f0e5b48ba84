#pragma once
// Answering modal dialogs and message boxes in tests: the code under test
// calls the real exec(), and the answer runs inside the dialog's own event loop.
#include <QApplication>
#include <QDeadlineTimer>
#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>

namespace qvtest {

// Answers the next modal dialog of class D that exec() shows: once it is up
// and active, `answer` works it like a user, and the dialog is rejected if the
// answer left it open (or it never became active, unanswered). No dialog of class D within ten seconds: nothing is
// answered, so that a fault cannot hang the run.
template <class D>
void AnswerModal(std::function<void(D &)> answer, QDeadlineTimer deadline = QDeadlineTimer(10000)) {
    QTimer::singleShot(0, qApp, [answer, deadline] {
        auto *found = qobject_cast<D *>(QApplication::activeModalWidget());
        if (!found) {
            if (!deadline.hasExpired()) AnswerModal<D>(answer, deadline);
            return;
        }
        const QPointer<D> d = found;
        const bool active = QTest::qWaitFor([&] { return !d || (d->isActiveWindow() && QApplication::focusWidget()); });
        if (!d) return;
        if (active) answer(*d);
        if (d && d->isVisible()) d->reject();
    });
}

// Answers every message box that exec() shows while it lives, from inside the
// box's event loop: `answer` sees the box and names the button to click (one
// of the box's standard buttons; any other answer rejects the box).
class MessageBoxAnswers {
public:
    using Answer = std::function<QMessageBox::StandardButton(QMessageBox &)>;
    explicit MessageBoxAnswers(Answer answer) : Answer_(std::move(answer)) {
        Timer.setInterval(1);
        QObject::connect(&Timer, &QTimer::timeout, [this] { Poll(); });
        Timer.start();
    }
    MessageBoxAnswers(const MessageBoxAnswers &) = delete;
    MessageBoxAnswers &operator=(const MessageBoxAnswers &) = delete;

private:
    void Poll() {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == Answered) return;
        Answered = box;
        if (QAbstractButton *b = box->button(Answer_(*box)))
            b->click();
        else
            box->reject();
    }

    Answer Answer_;
    QTimer Timer;
    QPointer<QMessageBox> Answered;
};

// The message of the application's error report box (errorreport.h), without
// its closing "."; a null text for any other box.
inline QString ReportMessage(const QMessageBox &box) {
    if (box.icon() != QMessageBox::Critical) return QString();
    QString text = box.text();
    if (text.endsWith(u'.')) text.chop(1);
    return text;
}

}  // namespace qvtest
