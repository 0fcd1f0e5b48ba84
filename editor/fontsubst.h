#pragma once
// The window layouts name the fonts "ＭＳ Ｐゴシック", "ＭＳ ゴシック", "MS Sans Serif" and
// "Terminal". Each name is mapped once to the installed fonts whose advance widths
// match it best, so that every caption fits the rectangle its layout gives it:
// - "ＭＳ Ｐゴシック": IPAPGothic, drawn to the widths of the proportional Japanese UI font;
//   its half-width katakana, the voiced marks ﾞ and ﾟ too, are half an em each; a mark
//   keeps to the left of its own cell, as in Noto Sans CJK, VL PGothic and IPAexGothic,
//   so no other font draws "ﾄﾞｳ" tighter: the menus set the marks close themselves
//   (appearance::KanaMarkStyle);
// - "ＭＳ ゴシック" and "Terminal": IPAGothic, fixed pitch, half-width Latin;
// - "MS Sans Serif": Liberation Sans Narrow for Latin text, whose narrow widths match
//   the small dialog font, with IPAPGothic for the Japanese characters.
// The layouts keep their font names; only the lookup changes. The set-up installs
// fonts-ipafont-gothic and fonts-liberation.
#include <QFont>
#include <QString>
#include <QStringList>

namespace qvfonts {

struct Mapping {
    const char *Family;
    const char *Installed;  // comma-separated, first choice first
};

inline constexpr Mapping Mappings[] = {
    {"ＭＳ Ｐゴシック", "IPAPGothic"},
    {"ＭＳ ゴシック", "IPAGothic"},
    {"MS Sans Serif", "Liberation Sans Narrow,IPAPGothic"},
    {"Terminal", "IPAGothic"},
};

// Installs the mapping; later calls do nothing. Windows call it before they build
// their fonts, so any window made first finds the mapping in place.
inline void InstallSubstitutes() {
    static const bool installed = [] {
        for (const Mapping &m : Mappings) {
            const QString family = QString::fromUtf8(m.Family);
            QFont::removeSubstitutions(family);
            QFont::insertSubstitutions(family, QString::fromUtf8(m.Installed).split(QLatin1Char(',')));
        }
        return true;
    }();
    (void)installed;
}

}  // namespace qvfonts
