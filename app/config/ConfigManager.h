#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <functional>

// Keeps the servers and scripts in config.json. Holds nothing itself: every save is built from the
// current lists of the server manager and the external action manager.
class ConfigManager
{
public:
    static ConfigManager* instance();

    void load();
    void save();

    QDir configDir() const;
    QByteArray readConfigFile() const;
    // Returns whether the new contents replaced the old ones; on failure the old file is left as it was
    // and error, when given, says why.
    bool writeConfigFile(const QByteArray& data, QString* error = nullptr) const;
    // The file rewritten through its own handle, for a folder the user may not write: the old contents
    // are put back when the new ones do not fit.
    static bool writeInPlace(const QString& path, const QByteArray& data, QString* error);

    // The user must hear of a save that failed, or the change ends with the program; the window shows it.
    void setSaveFailedHandler(std::function<void(const QString& path, const QString& reason)> handler);

private:
    ConfigManager() = default;

    QString configFilePath() const;

    std::function<void(const QString& path, const QString& reason)> saveFailedHandler;
};
