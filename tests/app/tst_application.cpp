// The application object reports an error that escapes an event handler and
// goes on delivering events.
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "../modal.h"
#include "application.h"
#include "errorreport.h"

namespace {
class Thrower : public QObject {
public:
    int What = 0;
    bool event(QEvent *e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        switch (What) {
        case 0: throw std::runtime_error("broken");
        case 1: throw std::bad_alloc();
        case 2: throw EQvError(QStringLiteral("自前のエラー"));
        default: throw 42;
        }
    }
};
}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    QStringList reports;
    qvtest::MessageBoxAnswers answers([&](QMessageBox &box) {
        reports << qvtest::ReportMessage(box);
        return QMessageBox::Ok;
    });
    Thrower t;
    for (int i = 0; i < 4; ++i) {
        t.What = i;
        QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
    }
    bool after = false;  // events still arrive afterwards
    QTimer::singleShot(0, [&] { after = true; });
    QCoreApplication::processEvents();
    const QStringList want = {ForeignErrorMessage(std::runtime_error("broken")), OutOfMemoryMessage(),
                              QStringLiteral("自前のエラー"), UnknownErrorMessage()};
    if (reports != want || !after) {
        qWarning() << "reports" << reports << "want" << want << "events after:" << after;
        return 1;
    }
    std::puts("1 passed, 0 failed");
    return 0;
}
