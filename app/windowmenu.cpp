#include "windowmenu.h"

#include "childwin.h"
#include "documents.h"
#include "errorreport.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>

TWindowMenu::TWindowMenu(QMenu *menu, TDocuments &docs, QMdiArea *area, QWidget *window)
    : QObject(menu), Window1(menu), Docs(docs), Area(area) {
    Window1->addSeparator();
    LineNumbersItem = Window1->addAction(QStringLiteral("行番号を表示(&L)"));
    LineNumbersItem->setObjectName(QStringLiteral("LineNumbersItem"));
    LineNumbersItem->setStatusTip(QStringLiteral("ｴﾃﾞｨﾀの左端に行番号を表示する"));
    LineNumbersItem->setCheckable(true);
    connect(LineNumbersItem, &QAction::triggered, this, [this, window] {
        Guarded(
            [this] {
                LineNumbersItemClick();
                if (OnLineNumbers) OnLineNumbers(LineNumbersItem->isChecked());
            },
            window);
    });
    NextWindowItem = Window1->addAction(QStringLiteral("次のｳｨﾝﾄﾞｳ(&N)"));
    NextWindowItem->setObjectName(QStringLiteral("NextWindowItem"));
    NextWindowItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab));
    NextWindowItem->setStatusTip(QStringLiteral("次のｳｨﾝﾄﾞｳに切り替える"));
    connect(NextWindowItem, &QAction::triggered, this, [this] { Docs.StepWindow(1); });
    PrevWindowItem = Window1->addAction(QStringLiteral("前のｳｨﾝﾄﾞｳ(&P)"));
    PrevWindowItem->setObjectName(QStringLiteral("PrevWindowItem"));
    PrevWindowItem->setStatusTip(QStringLiteral("前のｳｨﾝﾄﾞｳに切り替える"));
    // X delivers Shift+Tab as Backtab.
    PrevWindowItem->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)});
    connect(PrevWindowItem, &QAction::triggered, this, [this] { Docs.StepWindow(-1); });
    connect(Window1, &QMenu::aboutToShow, this, &TWindowMenu::FillWindowList);
}

void TWindowMenu::LineNumbersItemClick() {
    const bool shown = LineNumbersItem->isChecked();
    for (int i = 0; i < Docs.MDIChildCount(); ++i) Docs.MDIChildren(i)->RichEdit1->SetLineNumbers(shown);
}

void TWindowMenu::FillWindowList() {
    for (QAction *a : Window1->actions())
        if (a->property("windowEntry").toBool()) {
            Window1->removeAction(a);
            a->deleteLater();
        }
    int number = 0;
    for (int i = 0; i < Docs.MDIChildCount(); ++i) {
        QMdiSubWindow *w = Docs.MDIChildren(i);
        if (number == 0) Window1->addSeparator()->setProperty("windowEntry", true);
        QAction *a = Window1->addAction(QStringLiteral("&%1 %2").arg(++number).arg(w->windowTitle()));
        a->setProperty("windowEntry", true);
        a->setCheckable(true);
        a->setChecked(w == Area->currentSubWindow());
        connect(a, &QAction::triggered, this, [this, w = QPointer<QMdiSubWindow>(w)] {
            if (!w) return;
            if (w->isMinimized()) w->showNormal();
            Area->setActiveSubWindow(w);
        });
    }
}
