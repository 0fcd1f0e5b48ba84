#pragma once
// The New project dialog: asks for a project name of up to 8 characters, shown
// and kept in upper case. OKBtn ("作成", Enter) closes it with Accepted (1);
// CancelBtn ("中止"), Esc and the close box with Rejected.
#include "ui_newproj.h"

#include <QDialog>
#include <QValidator>

// Keeps every letter typed or pasted in upper case, one character for one, so
// the length and the cursor stay where they were.
class TUpperCaseValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;
};

class TNewProjDlg : public QDialog, public Ui::TNewProjDlg {
    Q_OBJECT
public:
    explicit TNewProjDlg(QWidget *parent = nullptr);
};
