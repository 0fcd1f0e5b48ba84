#include "newproj.h"

#include "fontsubst.h"

#include <QGuiApplication>
#include <QScreen>

QValidator::State TUpperCaseValidator::validate(QString &input, int &) const {
    fixup(input);
    return Acceptable;
}

void TUpperCaseValidator::fixup(QString &input) const {
    for (qsizetype i = 0; i < input.size(); ++i) {
        const QChar c = input.at(i);
        const QChar u = c.toUpper();
        if (u != c) input[i] = u;
    }
}

TNewProjDlg::TNewProjDlg(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    qvfonts::InstallSubstitutes();
    setupUi(this);
    QFont f = font();  // the family comes from the layout
    f.setPixelSize(12);
    setFont(f);
    setFixedSize(233, 93);
    ProjName->setValidator(new TUpperCaseValidator(ProjName));
    ProjName->setAttribute(Qt::WA_InputMethodEnabled, false);
    ProjName->setFocus();
    // Centred on the screen, not over the main window.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
