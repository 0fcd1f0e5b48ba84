#include "filedialog.h"

#include <QFileDialog>
#include <QFileInfo>

QStringList TFileDialog::nameFilters() const {
    QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return out;
}

bool TFileDialog::Execute(QWidget *parent) {
    if (Prompt) return Prompt(*this);
    QFileDialog dlg(parent, Title);
    dlg.setAcceptMode(DialogKind == Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dlg.setFileMode(DialogKind == Open && FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !OverwritePrompt);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setNameFilters(nameFilters());
    QString ext = DefaultExt;
    if (ext.startsWith(QLatin1String("*."))) ext = ext.mid(2);
    dlg.setDefaultSuffix(ext);
    if (!FileName.isEmpty()) {
        QFileInfo fi(FileName);
        if (fi.isAbsolute()) dlg.setDirectory(fi.absolutePath());
        dlg.selectFile(fi.fileName());
    }
    if (dlg.exec() != QDialog::Accepted) return false;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty()) return false;
    FileName = files.first();
    return true;
}
