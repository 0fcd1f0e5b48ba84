#include "windowsettings.h"

#include "childwin.h"
#include "documents.h"
#include "recentlist.h"

#include <QAction>
#include <QMainWindow>
#include <QSettings>
#include <QSplitter>

#include <memory>

namespace {
// The user's settings file: Quelvane/quelvane.conf in the configuration folder.
std::unique_ptr<QSettings> Settings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quelvane"),
                                       QStringLiteral("quelvane"));
}
}  // namespace

void TWindowSettings::Restore() {
    Remembering = true;
    const auto owned = Settings();
    QSettings &settings = *owned;
    if (settings.contains(QStringLiteral("window/geometry"))) {
        Parts.Window->restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
        Parts.Window->restoreState(settings.value(QStringLiteral("window/state")).toByteArray());
        Parts.Tree->restoreState(settings.value(QStringLiteral("window/tree")).toByteArray());
        Parts.Panes->restoreState(settings.value(QStringLiteral("window/panes")).toByteArray());
    }
    Parts.Docs->SetMaximized(settings.value(QStringLiteral("window/documentsMaximized"), false).toBool());
    Parts.Files->SetPaths(settings.value(QStringLiteral("recent/files")).toStringList());
    Parts.Projects->SetPaths(settings.value(QStringLiteral("recent/projects")).toStringList());
    Parts.LineNumbers->setChecked(settings.value(QStringLiteral("editor/lineNumbers"), false).toBool());
    for (int i = 0; i < Parts.Docs->MDIChildCount(); ++i)
        Parts.Docs->MDIChildren(i)->RichEdit1->SetLineNumbers(Parts.LineNumbers->isChecked());
}

void TWindowSettings::Save() {
    if (!Remembering) return;
    const auto owned = Settings();
    QSettings &settings = *owned;
    settings.setValue(QStringLiteral("window/geometry"), Parts.Window->saveGeometry());
    settings.setValue(QStringLiteral("window/state"), Parts.Window->saveState());
    settings.setValue(QStringLiteral("window/tree"), Parts.Tree->saveState());
    settings.setValue(QStringLiteral("window/panes"), Parts.Panes->saveState());
    settings.setValue(QStringLiteral("window/documentsMaximized"), Parts.Docs->Maximized());
    settings.setValue(QStringLiteral("editor/lineNumbers"), Parts.LineNumbers->isChecked());
    WriteRecent();
}

void TWindowSettings::WriteRecent() {
    if (!Remembering) return;
    const auto settings = Settings();
    settings->setValue(QStringLiteral("recent/files"), Parts.Files->Paths());
    settings->setValue(QStringLiteral("recent/projects"), Parts.Projects->Paths());
}

void TWindowSettings::WriteLineNumbers(bool shown) {
    if (Remembering) Settings()->setValue(QStringLiteral("editor/lineNumbers"), shown);
}
