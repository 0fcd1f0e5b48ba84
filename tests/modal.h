#pragma once
// Answering modal dialogs in tests: the code under test calls the real exec(),
// and the answer runs inside the dialog's own event loop.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
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

}  // namespace qvtest
