#pragma once
// Helpers shared by the project tests: real files, answered dialogs, tree labels.
#include "filedialog.h"
#include "projectnodes.h"
#include "../testfiles.h"

#include <QFile>
#include <QStringList>
#include <QTreeWidget>

namespace testtools {

using qvtest::ReadFile;
using qvtest::WriteFile;

// The labels of the nodes in index order.
inline QStringList labels(const QTreeWidget *tree) {
    QStringList out;
    for (int i = 0; i < project::NodeCount(tree); ++i) out << project::NodeAt(tree, i)->text(0);
    return out;
}

// The paths of the nodes in index order ("-" for a node without one).
inline QStringList paths(const QTreeWidget *tree) {
    QStringList out;
    for (int i = 0; i < project::NodeCount(tree); ++i) {
        const QTreeWidgetItem *n = project::NodeAt(tree, i);
        out << (project::HasPath(n) ? project::NodePath(n) : QStringLiteral("-"));
    }
    return out;
}

// Answers every file dialog while it lives: confirms `answer`, or cancels when
// it is null. Counts the dialogs and remembers the last one's title. Answers
// nest: the one made last answers, and the one before takes over again.
struct DialogAnswer {
    QString answer;
    int calls = 0;
    QString lastTitle;
    std::function<bool(TFileDialog &)> previous = TFileDialog::TestHook;
    explicit DialogAnswer(QString a = QString()) : answer(std::move(a)) {
        TFileDialog::TestHook = [this](TFileDialog &d) {
            ++calls;
            lastTitle = d.Title;
            if (answer.isNull()) return false;
            d.FileName = answer;
            return true;
        };
    }
    ~DialogAnswer() { TFileDialog::TestHook = previous; }
    DialogAnswer(const DialogAnswer &) = delete;
    DialogAnswer &operator=(const DialogAnswer &) = delete;
};

}  // namespace testtools
