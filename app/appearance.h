#pragma once
// How the program meets the desktop: Qt's own Japanese texts for the standard
// dialogs and buttons, the fonts that the layouts name, the program's icon and
// the tool buttons' glyphs.
#include <QIcon>
#include <QString>

class QApplication;
class QStyle;

namespace appearance {

// Loads Qt's Japanese translations (qtbase_ja.qm from Qt's translations folder)
// once; false when they are not installed, and the standard dialogs stay in English.
bool InstallTranslations();

// Start-up: the Japanese locale for Qt's own texts, the translations, the font mapping (fontsubst.h) and the window icon.
void SetUp(QApplication &app);

// The program's icon, from its SVG file.
QIcon ProgramIcon();

// A tool button glyph by name ("open", "save", "cut", "copy", "paste", "exit"),
// drawn from the program's SVG files; the disabled state is a grey, faded copy.
// A null icon for an unknown name.
QIcon ToolGlyph(const QString &name);

// The grey, faded copy of a glyph that stands for its disabled state.
QImage Greyed(const QImage &image);

// A style for the menu bar, whose captions hold half-width katakana: a
// half-width voiced or semi-voiced mark (U+FF9E, U+FF9F) is drawn against the
// letter before it and the next letter follows the mark's ink, as Japanese
// menu fonts set them ("ｳｨﾝﾄﾞｳ", not "ｳｨﾝﾄﾞ ｳ"). Every other text is drawn
// as the application's style draws it. Owned by `parent`.
QStyle *KanaMarkStyle(QObject *parent);

}  // namespace appearance
