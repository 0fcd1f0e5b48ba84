#pragma once
// A file dialog that keeps its settings and its last chosen file name between
// uses, run modally with Execute(). Its Prompt decides how the user is asked.
#include <QString>
#include <QStringList>
#include <functional>

class QFileDialog;
class QWidget;

class TFileDialog {
public:
    enum Kind { Open, Save };
    explicit TFileDialog(Kind kind) : DialogKind(kind) {}

    Kind DialogKind;
    QString Title;       // empty: the platform's default title
    QString Filter;      // "display|pattern|display|pattern..."
    QString DefaultExt;  // "*.c": added to a typed name that has no extension
    QString FileName;    // initial name; after a confirmed Execute(), the chosen path
    bool FileMustExist = false;
    bool OverwritePrompt = false;

    // Runs the dialog; true when the user confirmed a file (then in FileName).
    bool Execute(QWidget *parent);

    // How Execute() asks: unset, Qt's file dialog is shown; set, it is called
    // instead (it may set FileName and returns whether the user confirmed).
    // Whoever drives the program without a screen answers here.
    std::function<bool(TFileDialog &)> Prompt;
    // Called with Qt's dialog once it is set up, before it is shown.
    std::function<void(QFileDialog &)> Shown;

    // "Cソースファイル(*.c)|*.c|..." as Qt name filters: a label that ends in its
    // patterns in parentheses as it is, "Cソースファイル(*.c)"; any other with
    // them added, "Cソースファイル (*.c)".
    QStringList nameFilters() const;
};
