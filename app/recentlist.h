#pragma once
// A list of files used lately, newest first, each once, at most Max long, and
// the submenu that offers it: "&1 path", "&2 path", ... (disabled while the
// list is empty). Choosing an entry opens it; one whose file is gone is taken
// off the list with a message.
#include <QObject>
#include <QStringList>
#include <functional>

class QMenu;
class QWidget;

class TRecentList : public QObject {
    Q_OBJECT
public:
    static constexpr int Max = 8;
    // `open` opens a chosen entry; errors it raises are reported over `window`.
    TRecentList(QMenu *menu, std::function<void(const QString &path)> open, QWidget *window);

    QMenu *const Menu;
    const QStringList &Paths() const { return List; }
    // Puts the absolute form of `path` first (nothing for an empty path).
    void Note(const QString &path);
    // The list as remembered: empty entries and repeats dropped, at most Max.
    void SetPaths(QStringList paths);
    // After every change of the list.
    std::function<void()> OnChanged;

private:
    void Open(const QString &path);
    void Fill();
    QStringList List;
    std::function<void(const QString &)> OpenPath;
    QWidget *Window;
};
