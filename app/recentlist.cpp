#include "recentlist.h"

#include "errorreport.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

TRecentList::TRecentList(QMenu *menu, std::function<void(const QString &path)> open, QWidget *window)
    : QObject(menu), Menu(menu), OpenPath(std::move(open)), Window(window) {
    connect(Menu, &QMenu::aboutToShow, this, &TRecentList::Fill);
    Fill();
}

void TRecentList::Note(const QString &path) {
    if (path.isEmpty()) return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    List.removeAll(absolute);
    List.prepend(absolute);
    while (List.size() > Max) List.removeLast();
    Fill();
    if (OnChanged) OnChanged();
}

void TRecentList::SetPaths(QStringList paths) {
    paths.removeAll(QString());
    paths.removeDuplicates();
    List = paths.mid(0, Max);
    Fill();
}

void TRecentList::Fill() {
    Menu->clear();
    Menu->setEnabled(!List.isEmpty());
    int number = 0;
    for (const QString &path : std::as_const(List)) {
        QString shown = QDir::toNativeSeparators(path);
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *a = Menu->addAction(QStringLiteral("&%1 %2").arg(++number).arg(shown));
        a->setData(path);
        connect(a, &QAction::triggered, this, [this, path] { Guarded([&] { Open(path); }, Window); });
    }
}

void TRecentList::Open(const QString &path) {
    if (QFileInfo(path).isFile()) return OpenPath(path);
    List.removeAll(path);
    Fill();
    if (OnChanged) OnChanged();
    QMessageBox::information(Window, QStringLiteral("Quelvane"),
                             QStringLiteral("%1 が見つかりません。一覧から削除しました。").arg(QDir::toNativeSeparators(path)));
}
