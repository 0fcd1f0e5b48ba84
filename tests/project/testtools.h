#pragma once
// Helpers shared by the project tests: real files, answered dialogs, tree labels.
#include "filedialog.h"
#include "projectnodes.h"
#include "../testfiles.h"

#include <QFile>
#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <initializer_list>
#include <vector>

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

// Answers the given file dialogs while it lives: confirms `answer`, or cancels
// when it is null. Counts the dialogs and remembers the last one's title.
// Answers nest: the one made last answers, and the one before takes over again.
struct DialogAnswer {
    QString answer;
    int calls = 0;
    QString lastTitle;
    std::vector<std::pair<TFileDialog *, std::function<bool(TFileDialog &)>>> previous;
    explicit DialogAnswer(std::initializer_list<TFileDialog *> dialogs, QString a = QString()) : answer(std::move(a)) {
        for (TFileDialog *d : dialogs) {
            previous.emplace_back(d, d->Prompt);
            d->Prompt = [this](TFileDialog &dialog) {
                ++calls;
                lastTitle = dialog.Title;
                if (answer.isNull()) return false;
                dialog.FileName = answer;
                return true;
            };
        }
    }
    ~DialogAnswer() {
        for (auto &[d, prompt] : previous) d->Prompt = prompt;
    }
    DialogAnswer(const DialogAnswer &) = delete;
    DialogAnswer &operator=(const DialogAnswer &) = delete;
};

}  // namespace testtools
