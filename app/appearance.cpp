#include "appearance.h"

#include "fontsubst.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QPixmap>
#include <QTranslator>

static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace appearance {

bool InstallTranslations() {
    static QTranslator *translator = nullptr;
    if (translator) return true;
    auto *t = new QTranslator(QCoreApplication::instance());
    if (!t->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    QCoreApplication::installTranslator(t);
    translator = t;
    return true;
}

void SetUp(QApplication &app) {
    qvfonts::InstallSubstitutes();
    // Texts that Qt builds from the locale (the file dialogs' sizes, dates and
    // file types) in Japanese. The program compares paths and names without
    // regard to any locale, so nothing else changes.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    InstallTranslations();
    app.setWindowIcon(ProgramIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("quelvane"));
}

QIcon ProgramIcon() {
    InitIconResources();
    return QIcon(QStringLiteral(":/icons/quelvane.svg"));
}

QImage Greyed(const QImage &image) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            const int v = 112 + qGray(p) * 128 / 255;  // light grey, 112..240
            line[x] = qRgba(v, v, v, qAlpha(p) * 45 / 100);
        }
    }
    return out;
}

QIcon ToolGlyph(const QString &name) {
    InitIconResources();
    const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
    if (name.isEmpty() || !QFile::exists(path)) return QIcon();
    const QIcon source(path);
    QIcon glyph;
    for (int size : {16, 20, 24, 32, 48}) {
        const QPixmap normal = source.pixmap(QSize(size, size), 1.0);
        if (normal.isNull()) continue;
        glyph.addPixmap(normal, QIcon::Normal);
        glyph.addPixmap(QPixmap::fromImage(Greyed(normal.toImage())), QIcon::Disabled);
    }
    return glyph;
}

}  // namespace appearance
