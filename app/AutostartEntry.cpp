#include "app/AutostartEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSettings>
#else
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>
#endif

const QString AutostartEntry::hiddenOption = QStringLiteral("hidden");

#ifdef Q_OS_WIN

namespace {

const QString runKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString valueName = QStringLiteral("Quelvane Monitor");

} // namespace

bool AutostartEntry::isEnabled()
{
    return QSettings(runKey, QSettings::NativeFormat).contains(valueName);
}

bool AutostartEntry::setEnabled(bool enabled, QString* error)
{
    QSettings run(runKey, QSettings::NativeFormat);
    if (enabled) {
        const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
        run.setValue(valueName, QStringLiteral("\"%1\" --%2").arg(program, hiddenOption));
    } else {
        run.remove(valueName);
    }
    run.sync();
    if (run.status() == QSettings::NoError)
        return true;
    if (error)
        *error = QCoreApplication::translate("MainWindow", "the registry refused the change");
    return false;
}

QString AutostartEntry::location()
{
    return runKey + QLatin1Char('\\') + valueName;
}

#else

namespace {

// An argument of Exec, quoted as the desktop entry format asks: inside double quotes, the characters
// ", `, $ and \ escaped with a backslash, then every backslash doubled for the string value, and a
// per cent sign doubled so that it is not read as a field code.
QString quotedArgument(const QString& argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QLatin1String("\\\\");
        else if (c == QLatin1Char('\\'))
            quoted += QLatin1String("\\\\\\");
        else if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString AutostartEntry::location()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/quelvane-monitor.desktop");
}

bool AutostartEntry::isEnabled()
{
    QFile file(location());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // The two ways the desktops have to keep an entry but not start it.
    QTextStream entry(&file);
    bool inMainGroup = false;
    QString line;
    while (entry.readLineInto(&line)) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup &&
                 (line == QLatin1String("Hidden=true") || line == QLatin1String("X-GNOME-Autostart-enabled=false")))
            return false;
    }
    return true;
}

bool AutostartEntry::setEnabled(bool enabled, QString* error)
{
    const QString path = location();
    QString reason;
    if (!enabled) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        reason = file.errorString();
    } else {
        // A folder that cannot be made shows as the file that cannot be opened.
        QDir().mkpath(QFileInfo(path).absolutePath());
        const QString exec =
            quotedArgument(QCoreApplication::applicationFilePath()) + QStringLiteral(" --") + hiddenOption;
        const QByteArray text =
            QStringLiteral("[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Quelvane Monitor\n"
                           "Comment=Watch video-surveillance recording servers from the system tray\n"
                           "Exec=%1\n"
                           "Icon=quelvane-monitor\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n")
                .arg(exec)
                .toUtf8();
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(text) == text.size() && file.commit())
            return true;
        reason = file.errorString();
    }
    if (error)
        *error = reason;
    return false;
}

#endif
