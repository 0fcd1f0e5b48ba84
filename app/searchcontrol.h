#pragma once
// Find in the project: the question, the search over every file of the
// project (an open document in its current text), its rows in the "検索結果"
// list, and the jump from a row to its match.
#include "search.h"

#include <QObject>
#include <QString>

class QAction;
class QStatusBar;
class QWidget;
class TDocuments;
class TOutputPane;
class TProjectSearch;

namespace project {
class Project;
}

class TSearchControl : public QObject {
    Q_OBJECT
public:
    // `stopItem` is on while a search runs; `status` shows its progress and end.
    TSearchControl(TDocuments &docs, TOutputPane &pane, const project::Project &project, QAction *stopItem,
                   QStatusBar *status, QWidget *window);

    TProjectSearch *ProjectSearch = nullptr;

    void ProjFindItemClick();
    void ProjFindStopItemClick();
    // Every file of the project once, in project order.
    void StartProjectSearch(const QString &pattern, const search::Options &options);
    void SearchListDblClick(int row);

private:
    TDocuments &Docs;
    TOutputPane &Pane;
    const project::Project &Project;
    QAction *StopItem;
    QStatusBar *Status;
    QWidget *Window;
};
