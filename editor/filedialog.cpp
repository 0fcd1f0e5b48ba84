#include "filedialog.h"

#include <QAbstractItemView>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QMimeDatabase>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

QStringList TFileDialog::nameFilters() const {
    QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString &label = parts[i];
        // A label that already ends in its patterns, "Cソースファイル(*.c)", is
        // shown as it is: Qt takes the patterns from the parentheses.
        if (label.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')) ||
            label.endsWith(QLatin1Char('(') + parts[i + 1] + QLatin1Char(')')))
            out << label;
        else
            out << QStringLiteral("%1 (%2)").arg(label, patterns);
    }
    return out;
}

namespace {

// The file list's columns in Japanese whatever the system's locale: sizes in
// バイト and KB, the type's Japanese name, dates as 2024/03/09 14:05.
class TJapaneseColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() < 1 || index.column() > 3)
            return QIdentityProxyModel::data(index, role);
        const QFileInfo info = files->fileInfo(mapToSource(index));
        const QLocale japanese(QLocale::Japanese, QLocale::Japan);
        switch (index.column()) {
        case 1:
            return info.isDir() ? QString() : japanese.formattedDataSize(info.size(), 1, QLocale::DataSizeTraditionalFormat);
        case 2:
            if (info.isDir()) return QStringLiteral("フォルダー");
            // The MIME database names it in the default locale's language, which
            // the program sets to Japanese at start-up.
            return QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
        default:
            return japanese.toString(info.lastModified(), QStringLiteral("yyyy/MM/dd H:mm"));
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char *const names[] = {"名前", "サイズ", "種類", "更新日時"};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4)
            return QString::fromUtf8(names[section]);
        return QIdentityProxyModel::headerData(section, orientation, role);
    }

};

// The first size shows the places beside the files and the columns whole:
// size, type and date as wide as their longest texts, the name the rest.
void FitToItsTexts(QFileDialog &dlg) {
    auto *splitter = dlg.findChild<QSplitter *>(QStringLiteral("splitter"));
    auto *sidebar = dlg.findChild<QAbstractItemView *>(QStringLiteral("sidebar"));
    auto *details = dlg.findChild<QTreeView *>(QStringLiteral("treeView"));
    if (!splitter || !sidebar || !sidebar->model() || !details) return;
    int widest = 0;
    for (int row = 0; row < sidebar->model()->rowCount(); ++row)
        widest = std::max(widest, sidebar->fontMetrics().horizontalAdvance(sidebar->model()->index(row, 0).data().toString()));
    const int side = widest + sidebar->style()->pixelMetric(QStyle::PM_SmallIconSize) + 40;
    const QFontMetrics fm = details->fontMetrics();
    const int widths[] = {fm.horizontalAdvance(QStringLiteral("9999.9 バイト")) + 16,
                          fm.horizontalAdvance(QStringLiteral("C ヘッダーファイル")) + 24,
                          fm.horizontalAdvance(QStringLiteral("9999/99/99 99:99")) + 16};
    int others = 0;
    for (int i = 0; i < 3; ++i) {
        details->header()->resizeSection(i + 1, widths[i]);
        others += widths[i];
    }
    const int least = fm.horizontalAdvance(QStringLiteral("M")) * 16;
    // The frames, margins and scroll bars around the two lists.
    const int around = 80 + details->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    dlg.resize(std::max({dlg.width(), 760, side + others + least + around}), std::max(dlg.height(), 460));
    splitter->setSizes({side, std::max(1, dlg.width() - side)});
    // The view's width is known once the dialog is up.
    QTimer::singleShot(0, details, [details, others, least] {
        details->header()->resizeSection(0, std::max(least, details->viewport()->width() - others));
    });
}

}  // namespace

bool TFileDialog::Execute(QWidget *parent) {
    if (Prompt) return Prompt(*this);
    QFileDialog dlg(parent, Title);
    dlg.setAcceptMode(DialogKind == Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dlg.setFileMode(DialogKind == Open && FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !OverwritePrompt);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setProxyModel(new TJapaneseColumns(&dlg));
    dlg.setNameFilters(nameFilters());
    QString ext = DefaultExt;
    if (ext.startsWith(QLatin1String("*."))) ext = ext.mid(2);
    dlg.setDefaultSuffix(ext);
    if (!FileName.isEmpty()) {
        QFileInfo fi(FileName);
        if (fi.isAbsolute()) dlg.setDirectory(fi.absolutePath());
        dlg.selectFile(fi.fileName());
    }
    FitToItsTexts(dlg);
    if (Shown) Shown(dlg);
    if (dlg.exec() != QDialog::Accepted) return false;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty()) return false;
    FileName = files.first();
    return true;
}
