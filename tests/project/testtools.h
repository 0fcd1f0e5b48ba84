#pragma once
// Helpers shared by the project tests: real files, answered dialogs, tree labels.
#include "filedialog.h"
#include "projectfile.h"
#include "projecttree.h"
#include "../testfiles.h"

#include <QFile>
#include <QListWidget>
#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <initializer_list>
#include <vector>

namespace testtools {

using qvtest::ReadFile;
using qvtest::WriteFile;

// The labels the tree shows, in index order.
inline QStringList labels(const QTreeWidget *tree) {
    QStringList out;
    for (int i = 0; i < project::NodeCount(tree); ++i) out << project::NodeAt(tree, i)->text(0);
    return out;
}

// The labels of the project's nodes in index order.
inline QStringList labels(const project::Project &p) {
    QStringList out;
    for (const project::Node &n : p.Nodes) out << n.Label;
    return out;
}

// The paths of the project's nodes in index order ("-" for a node without one).
inline QStringList paths(const project::Project &p) {
    QStringList out;
    for (const project::Node &n : p.Nodes) out << (n.HasPath ? n.Path : QStringLiteral("-"));
    return out;
}

// A project node and file nodes created in turn, as reading a file does.
inline project::Project made(const QString &name, const QList<QPair<QString, QString>> &files) {
    project::Project p = project::Project::Named(name);
    for (const auto &f : files) p.AddFile(f.first, f.second);
    return p;
}

// The window as the project commands see it: a tree and an Output list (the
// test's, made anew for each test function) and the two project dialogs; the
// questions have no parent.
class View : public project::TProjectView {
public:
    View(QTreeWidget *&tree, QListWidget *&output, TFileDialog &open1, TFileDialog &save1)
        : Tree(tree), Output(output), Open1(open1), Save1(save1) {}
    void ShowProject(const project::Project &p) override { project::ShowProject(Tree, p); }
    void ClearOutput() override { Output->clear(); }
    TFileDialog &OpenDialog1() override { return Open1; }
    TFileDialog &SaveDialog1() override { return Save1; }
    QWidget *DialogParent() override { return nullptr; }

private:
    QTreeWidget *&Tree;
    QListWidget *&Output;
    TFileDialog &Open1, &Save1;
};

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
