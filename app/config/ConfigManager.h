#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

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
    // Returns whether the new contents replaced the old ones; on failure the old file is left as it was.
    bool writeConfigFile(const QByteArray& data) const;

private:
    ConfigManager() = default;

    QString configFilePath() const;
};
