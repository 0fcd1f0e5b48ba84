#include "documents.h"

#include "childwin.h"
#include "errorreport.h"
#include "filedialog.h"
#include "filewatch.h"
#include "projectfile.h"  // MayReplace

#include <QFileInfo>
#include <QMdiArea>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>

TDocuments::TDocuments(QMdiArea *area, QStatusBar *status, QWidget *window)
    : QObject(window), Area(area), Status(status), Window(window) {
    connect(Area, &QMdiArea::subWindowActivated, this, &TDocuments::Activated);
    Files = new TFileWatch(*this, window);
    Files->setParent(this);  // it goes with the documents
}

TDocuments::~TDocuments() {
    for (TMDIChild *doc : std::as_const(Documents)) doc->disconnect(this);
    Area->disconnect(this);
}

void TDocuments::Changed() const {
    if (OnChanged) OnChanged();
}

TMDIChild *TDocuments::ActiveMDIChild() const {
    auto *doc = qobject_cast<TMDIChild *>(Area->currentSubWindow());
    return Documents.contains(doc) ? doc : nullptr;
}

void TDocuments::Activated(QMdiSubWindow *window) {
    // While stepping with Ctrl held, the order stays as it was.
    if (auto *doc = qobject_cast<TMDIChild *>(window); doc && Documents.contains(doc) && !Stepping()) {
        // The window in front has just closed, and the area chose the next by
        // an order of its own: the window used before the closed one comes
        // forward instead, once the close is over.
        const QList<QMdiSubWindow *> held = Area->subWindowList();
        if (TMDIChild *closed = Documents.first(); closed != doc && !held.contains(closed)) {
            TMDIChild *before = nullptr;
            for (TMDIChild *d : std::as_const(Documents))
                if (held.contains(d) && !d->isHidden()) {
                    before = d;
                    break;
                }
            if (before && before != doc) {
                QTimer::singleShot(0, this, [this, before = QPointer<TMDIChild>(before)] {
                    if (before && Documents.contains(before)) Area->setActiveSubWindow(before);
                });
                Changed();
                return;
            }
        }
        Documents.removeOne(doc);
        Documents.prepend(doc);
    }
    Changed();
}

void TDocuments::Gone(QObject *doc) {
    Documents.removeIf([doc](TMDIChild *d) { return static_cast<QObject *>(d) == doc; });
    if (Stepping()) EndStepping();
    Changed();
}

TMDIChild *TDocuments::NewDocument() {
    auto *doc = new TMDIChild(Area);
    doc->SaveRequest = [this](TMDIChild &d) { return SaveDocument(d); };
    Area->addSubWindow(doc);
    connect(doc, &QObject::destroyed, this, &TDocuments::Gone);
    connect(doc, &QMdiSubWindow::windowStateChanged, this, [this](Qt::WindowStates, Qt::WindowStates now) {
        MaximizedState = now & Qt::WindowMaximized;  // a maximised window minimised keeps the flag
    });
    Files->Watch(doc);
    if (Stepping()) EndStepping();
    const bool alone = Documents.isEmpty();
    Documents.prepend(doc);
    if (OnCreated) OnCreated(doc);
    if (alone && MaximizedState)
        doc->showMaximized();
    else
        doc->show();
    Fit(doc);
    Area->setActiveSubWindow(doc);
    Changed();
    return doc;
}

void TDocuments::Fit(TMDIChild *doc) {
    // 80 columns by 25 lines where the client area allows, never more than the
    // area, and wholly inside it. A window that opens maximised, as the others
    // are, keeps that.
    if (doc->isMaximized()) return;
    const TRichEdit *editor = doc->RichEdit1;
    const QSize frame = doc->size() - editor->viewport()->size();
    const QSize wanted = QSize(int(std::ceil(80 * editor->ColumnWidth())) + editor->LineNumberWidth(),
                               25 * editor->LineHeight()) + frame;
    const QSize area = Area->viewport()->size();
    const QSize size = wanted.expandedTo(doc->size()).boundedTo(area);
    doc->resize(size);
    doc->move(std::max(0, std::min(doc->x(), area.width() - size.width())),
              std::max(0, std::min(doc->y(), area.height() - size.height())));
}

TMDIChild *TDocuments::FindOpen(const QString &path) const {
    if (path.isEmpty()) return nullptr;
    for (TMDIChild *doc : Documents)
        if (doc->FileName == path) return doc;
    return nullptr;
}

void TDocuments::BringToFront(TMDIChild *doc) {
    if (doc->isMinimized()) doc->showNormal();
    doc->show();
    Area->setActiveSubWindow(doc);
}

void TDocuments::OpenDocument(const QString &path) {
    if (TMDIChild *doc = FindOpen(path)) {
        BringToFront(doc);
        if (OnNamed) OnNamed(path);
        return;
    }
    TMDIChild *doc = NewDocument();
    if (QFileInfo::exists(path)) {
        try {
            doc->LoadFile(path);
        } catch (...) {
            // No half-made window stays behind.
            delete doc;
            throw;
        }
        emit Loaded(doc);
        if (OnNamed) OnNamed(doc->FileName);
    }
}

void TDocuments::Save() {
    TMDIChild *doc = ActiveMDIChild();
    if (!doc) return;
    if (doc->IsUntitled()) {
        if (SaveDialog->Execute(Window) && project::MayReplace(SaveDialog->FileName, Window)) {
            doc->SaveAs(SaveDialog->FileName);
            if (OnNamed) OnNamed(doc->FileName);
        }
        return;
    }
    doc->Save();
}

void TDocuments::SaveAs() {
    TMDIChild *doc = ActiveMDIChild();
    if (doc && SaveDialog->Execute(Window) && project::MayReplace(SaveDialog->FileName, Window)) {
        doc->SaveAs(SaveDialog->FileName);
        if (OnNamed) OnNamed(doc->FileName);
    }
}

bool TDocuments::SaveDocument(TMDIChild &doc) {
    bool saved = false;
    Guarded(
        [&] {
            if (doc.IsUntitled()) {
                if (!SaveDialog->Execute(Window) || !project::MayReplace(SaveDialog->FileName, Window)) return;
                doc.SaveAs(SaveDialog->FileName);
                if (OnNamed) OnNamed(doc.FileName);
            } else {
                doc.Save();
            }
            saved = !doc.Changed;
        },
        Window);
    return saved;
}

bool TDocuments::AskChanged(QList<TMDIChild *> &toSave) const {
    for (TMDIChild *doc : Documents) {
        if (!doc->Changed) continue;
        switch (doc->AskSave()) {
        case QMessageBox::Save:
            toSave << doc;
            break;
        case QMessageBox::Discard:
            break;
        default:
            return false;
        }
    }
    return true;
}

bool TDocuments::SaveAll() {
    const QPointer<TMDIChild> active = ActiveMDIChild();
    const QList<TMDIChild *> docs = Documents;
    bool all = true;
    for (const QPointer<TMDIChild> doc : docs) {
        if (!doc || !Documents.contains(doc) || !doc->Changed) continue;
        // The dialog names the document in front of it.
        if (doc->IsUntitled()) BringToFront(doc);
        if (!SaveDocument(*doc)) {
            all = false;
            break;
        }
    }
    if (active && active != ActiveMDIChild()) BringToFront(active);
    return all;
}

void TDocuments::StepWindow(int step) {
    if (Documents.size() < 2) return;
    if (!Stepping()) {
        WalkOrder = Documents;
        Walk = 0;
    }
    const int n = int(WalkOrder.size());
    Walk = ((Walk + step) % n + n) % n;
    Area->setActiveSubWindow(WalkOrder[Walk]);
}

void TDocuments::EndStepping() {
    if (!Stepping()) return;
    Walk = -1;
    WalkOrder.clear();
    // The window reached takes its place at the front now.
    if (TMDIChild *doc = ActiveMDIChild()) {
        if (doc->isMinimized()) doc->showNormal();
        Activated(doc);
    }
}

void TDocuments::Tile() {
    QList<TMDIChild *> tiled;
    int iconRow = 0;
    for (TMDIChild *doc : std::as_const(Documents)) {
        if (doc->isMinimized())
            iconRow = std::max(iconRow, doc->height());
        else if (doc->isVisible())
            tiled << doc;
    }
    if (tiled.isEmpty()) return;
    const QRect area = Area->viewport()->rect().adjusted(0, 0, 0, -iconRow);
    const int n = tiled.size();
    const int h = std::max(1, area.height() / n);
    for (int i = 0; i < n; ++i) {
        if (tiled[i]->isMaximized()) tiled[i]->showNormal();
        const int height = i == n - 1 ? std::max(1, area.height() - i * h) : h;
        tiled[i]->setGeometry(area.left(), area.top() + i * h, area.width(), height);
    }
}

void TDocuments::ArrangeIcons() {
    // Left to right along the bottom, a new row above when one is full.
    const QRect area = Area->viewport()->rect();
    int x = area.left();
    int y = area.bottom() + 1;
    for (QMdiSubWindow *w : Area->subWindowList(QMdiArea::CreationOrder)) {
        if (!w->isMinimized()) continue;
        const QSize size = w->size();
        if (x > area.left() && x + size.width() > area.right() + 1) {
            x = area.left();
            y -= size.height();
        }
        w->move(x, y - size.height());
        x += size.width();
    }
}

void TDocuments::MinimizeAll() {
    const QList<TMDIChild *> docs = Documents;
    for (int i = docs.size() - 1; i >= 0; --i) docs[i]->showMinimized();
}
