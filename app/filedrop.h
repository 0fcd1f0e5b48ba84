#pragma once
// Files given from outside: the program's arguments, and files dragged onto
// the main window from another program. Those dropped anywhere on the window,
// an editor included (which would otherwise take their names as text), open
// as the window's OpenFiles opens them; a drop is always a copy, so that a
// source never deletes its files after a "move", and one that offers no copy
// is refused. A drag of anything but local files goes where it would go.
#include <QObject>
#include <QStringList>

#include <functional>

class QDropEvent;
class QMimeData;
class QWidget;

class TFileDrop : public QObject {
    Q_OBJECT
public:
    // Watches every widget of `window` (the window too) until it goes.
    TFileDrop(QWidget *window, std::function<void(const QStringList &paths)> open);
    ~TFileDrop() override;

    // The files among the program's arguments: all but options ("-x"); "--"
    // ends the options.
    static QStringList ArgumentFiles(const QStringList &arguments);
    // The files of a drag: its URLs when every one is a local file, else none.
    static QStringList LocalFiles(const QMimeData *mime);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static bool AcceptAsCopy(QDropEvent *event);

    QWidget *const Window;
    const std::function<void(const QStringList &)> Open;
};
