#pragma once
// What the main window remembers between runs, in the user's settings file
// (Quelvane/quelvane.conf in the configuration folder): its geometry and
// state, the panes' sizes, whether the document windows are maximised, the
// recent lists and the line-number switch. Nothing is written until Restore()
// has read them: a window that never read them writes nothing either.
class QAction;
class QMainWindow;
class QSplitter;
class TDocuments;
class TRecentList;

class TWindowSettings {
public:
    struct TParts {
        QMainWindow *Window;
        QSplitter *Tree, *Panes;
        TDocuments *Docs;
        TRecentList *Files, *Projects;
        QAction *LineNumbers;
    };
    explicit TWindowSettings(const TParts &parts) : Parts(parts) {}

    void Restore();
    void Save();
    // The recent lists and the switch alone, as soon as they change.
    void WriteRecent();
    void WriteLineNumbers(bool shown);

private:
    TParts Parts;
    bool Remembering = false;
};
