#include "filedrop.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

TFileDrop::TFileDrop(QWidget *window, std::function<void(const QStringList &paths)> open)
    : QObject(window), Window(window), Open(std::move(open)) {
    Window->setAcceptDrops(true);
    qApp->installEventFilter(this);
}

TFileDrop::~TFileDrop() { qApp->removeEventFilter(this); }

QStringList TFileDrop::ArgumentFiles(const QStringList &arguments) {
    QStringList files;
    bool options = true;
    for (const QString &arg : arguments) {
        if (options && arg == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && arg.size() > 1 && arg.startsWith(QLatin1Char('-'))) continue;
        files << arg;
    }
    return files;
}

QStringList TFileDrop::LocalFiles(const QMimeData *mime) {
    QStringList paths;
    const QList<QUrl> urls = mime ? mime->urls() : QList<QUrl>();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile()) return {};
        paths << url.toLocalFile();
    }
    return paths;
}

bool TFileDrop::AcceptAsCopy(QDropEvent *event) {
    if (!(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

bool TFileDrop::eventFilter(QObject *watched, QEvent *e) {
    if (e->type() != QEvent::DragEnter && e->type() != QEvent::DragMove && e->type() != QEvent::Drop)
        return QObject::eventFilter(watched, e);
    auto *w = qobject_cast<QWidget *>(watched);
    if (!w || w->window() != Window) return QObject::eventFilter(watched, e);
    auto *drag = static_cast<QDropEvent *>(e);
    const QStringList paths = LocalFiles(drag->mimeData());
    if (paths.isEmpty()) return QObject::eventFilter(watched, e);
    if (AcceptAsCopy(drag) && e->type() == QEvent::Drop) Open(paths);
    return true;
}
