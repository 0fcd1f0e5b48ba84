// Stands in for the editor's ShortPath while the editor library has none:
// on Linux a path is its own short form.
#include <QString>

QString ShortPath(const QString &path) { return path; }
