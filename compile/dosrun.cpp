#include "dosrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace dosrun {

namespace {
QByteArray Mountable(const QString &folder) {
    const QByteArray bytes = QFile::encodeName(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    if (folder.isEmpty() || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r')) return {};
    return bytes;
}

bool Write(const QString &path, const QByteArray &bytes, QString *error) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush()) return true;
    *error = f.errorString();
    return false;
}
}  // namespace

QByteArray Config(const QString &runFolder, const QString &workFolder, bool window) {
    QByteArray c;
    c += "[sdl]\nfullscreen=false\nautolock=false\n";
    c += "[dosbox]\nmachine=svga_s3\nmemsize=16\n";
    c += "[render]\nframeskip=0\naspect=false\n";
    // Without a window nothing waits for the screen: the recompiling core at a
    // fixed speed well beyond any 8086's (DOSBox's "max" creeps up to its speed
    // and leaves a short program's run half as fast).
    c += window ? "[cpu]\ncore=auto\ncycles=auto\n" : "[cpu]\ncore=dynamic\ncycles=fixed 1000000\n";
    if (!window) {
        c += "[mixer]\nnosound=true\n";
        c += "[speaker]\npcspeaker=false\ntandy=off\ndisney=false\n";
        c += "[sblaster]\nsbtype=none\n";
        c += "[gus]\ngus=false\n";
        c += "[midi]\nmpu401=none\nmididevice=none\n";
    }
    c += "[joystick]\njoysticktype=none\n";
    c += "[serial]\nserial1=disabled\nserial2=disabled\nserial3=disabled\nserial4=disabled\n";
    c += "[autoexec]\n@echo off\n";
    const QByteArray work = Mountable(workFolder);
    if (!work.isEmpty()) c += "mount c \"" + work + "\"\n";
    c += "mount q \"" + Mountable(runFolder) + "\"\n";
    if (!work.isEmpty()) c += "c:\n";
    if (window) c += "cls\n";
    c += QByteArray("call Q:\\") + BatchFile + "\nexit\n";
    return c;
}

QByteArray Batch(bool window) {
    QList<QByteArray> lines = {"@echo off", "set QVRC=0"};
    const QByteArray program = QByteArray("Q:\\") + ProgramFile;
    if (window)
        lines << program;
    else
        lines << program + " < Q:\\" + InputFile + " > Q:\\" + OutputFile;
    // "if errorlevel N" holds for every level from N up: the last one that
    // holds is the level.
    for (int n = 1; n <= 255; ++n) lines << "if errorlevel " + QByteArray::number(n) + " set QVRC=" + QByteArray::number(n);
    lines << QByteArray("echo %QVRC%> Q:\\") + ExitCodeFile;
    if (window) lines << "echo." << "pause";
    return lines.join("\r\n") + "\r\n";
}

bool PrepareFolder(const QString &runFolder, const QString &program, const QString &workFolder, bool window,
                   QString *error) {
    const QDir dir(runFolder);
    if (Mountable(runFolder).isEmpty()) {
        *error = QStringLiteral("作業フォルダ %1 を DOSBox に渡せません").arg(runFolder);
        return false;
    }
    QFile::remove(dir.filePath(QLatin1String(ProgramFile)));
    QFile source(program);
    if (!source.copy(dir.filePath(QLatin1String(ProgramFile)))) {
        *error = source.errorString();
        return false;
    }
    return Write(dir.filePath(QLatin1String(InputFile)), QByteArray(), error) &&
           Write(dir.filePath(QLatin1String(OutputFile)), QByteArray(), error) &&
           Write(dir.filePath(QLatin1String(BatchFile)), Batch(window), error) &&
           Write(dir.filePath(QLatin1String(ConfigFile)), Config(runFolder, workFolder, window), error);
}

QList<QByteArray> Arguments(const QString &runFolder) {
    return {"-conf", QFile::encodeName(QDir(runFolder).filePath(QLatin1String(ConfigFile))), "-noconsole"};
}

QList<QByteArray> HeadlessVariables() { return {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"}; }

int ReadExitCode(const QString &runFolder) {
    QFile f(QDir(runFolder).filePath(QLatin1String(ExitCodeFile)));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    bool ok = false;
    const int code = f.read(16).trimmed().toInt(&ok);
    return ok && code >= 0 && code <= 255 ? code : -1;
}

}  // namespace dosrun
