#include "searchcontrol.h"

#include "childwin.h"
#include "documents.h"
#include "errorreport.h"
#include "outputpane.h"
#include "project.h"
#include "projectsearch.h"
#include "tabset.h"
#include "textpos.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QSet>
#include <QStatusBar>

TSearchControl::TSearchControl(TDocuments &docs, TOutputPane &pane, const project::Project &project,
                               QAction *stopItem, QStatusBar *status, QWidget *window)
    : QObject(window), Docs(docs), Pane(pane), Project(project), StopItem(stopItem), Status(status), Window(window) {
    ProjectSearch = new TProjectSearch(this);
    ProjectSearch->OnRows = [this](const std::vector<TSearchRow> &rows) { Pane.SearchList->AppendRows(rows); };
    ProjectSearch->OnFinished = [this](int matches, int files, bool cancelled) {
        StopItem->setEnabled(false);
        Status->showMessage(cancelled ? QStringLiteral("プロジェクト内検索を中止しました")
                                      : QStringLiteral("プロジェクト内検索: %1 件、%2 ファイル").arg(matches).arg(files));
    };
    connect(Pane.SearchList, &TSearchList::RowDoubleClicked, this,
            [this](int row) { Guarded([&] { SearchListDblClick(row); }, Window); });
}

void TSearchControl::ProjFindItemClick() {
    TProjectFindDialog d(Window);
    if (TMDIChild *doc = Docs.ActiveMDIChild()) {
        const QString selected = doc->RichEdit1->SelectedText();
        if (!selected.contains(QLatin1Char('\n'))) d.FindText->setText(selected);
    }
    d.FindText->selectAll();
    if (d.exec() != QDialog::Accepted || d.FindText->text().isEmpty()) return;
    search::Options options;
    options.MatchCase = d.MatchCase->isChecked();
    options.WholeWord = d.WholeWord->isChecked();
    StartProjectSearch(d.FindText->text(), options);
}

void TSearchControl::ProjFindStopItemClick() { ProjectSearch->Cancel(); }

void TSearchControl::StartProjectSearch(const QString &pattern, const search::Options &options) {
    // Every file of the project once, in project order; an open document in
    // its current text.
    std::vector<TSearchSource> sources;
    QSet<QString> seen;
    for (const project::Node &node : Project.Nodes) {
        if (!node.HasPath || seen.contains(node.Path)) continue;
        seen << node.Path;
        TSearchSource source;
        source.Path = node.Path;
        if (const TMDIChild *doc = Docs.FindOpen(node.Path)) {
            source.Open = true;
            source.Text = doc->RichEdit1->Text()->Snapshot();
        }
        sources.push_back(std::move(source));
    }
    Pane.SearchList->clear();
    Pane.TabSet1->setCurrentIndex(1);
    StopItem->setEnabled(true);
    Status->showMessage(QStringLiteral("プロジェクト内を検索しています..."));
    ProjectSearch->Start(std::move(sources), pattern, options);
}

void TSearchControl::SearchListDblClick(int row) {
    if (row < 0 || row >= Pane.SearchList->count()) return;
    const TSearchRow match = Pane.SearchList->Match(row);  // the list may change meanwhile
    const QString path = match.Path;
    if (path.isEmpty()) return;  // a note or the count row
    if (!Docs.FindOpen(path) && !QFileInfo::exists(path)) {
        Status->showMessage(QStringLiteral("ファイル %1 がありません").arg(path));
        return;
    }
    Docs.OpenDocument(path);
    TMDIChild *doc = Docs.ActiveMDIChild();
    if (!doc || doc->FileName != path) return;
    const int line = match.Line;
    const int column = match.Column;
    const int length = match.Length;
    const TTextStore *text = doc->RichEdit1->Text();
    if (line < 1 || line > text->LineCount()) return;
    if (column < 0 || column + length > text->LineLength(line - 1)) {
        GoToLine(doc, line);  // the line has changed since: the line itself
        return;
    }
    SetSelection(doc->RichEdit1, text->LineStart(line - 1) + column, length);
    doc->RichEdit1->ShowLines(line - 1, line - 1, kContextLines);
    doc->RichEdit1->setFocus();
}
