#pragma once

#include <QDateTime>
#include <QString>

// One stretch of the history: something that began and, unless it still lasts, ended.
struct HistoryEvent
{
    enum Kind
    {
        Line = 0,        // an alarm line of a category
        Category = 1,    // a category in alarm
        Unreachable = 2, // the server could not be watched; detail holds why
        Silence = 3,     // the user silenced a category, or the whole server when category is empty
    };

    qint64 id = 0;
    QString server;   // the server's name when last seen
    Kind kind = Line;
    QString category; // "recorder", "cameras", "hardware", or empty
    QString line;
    QString detail;
    QDateTime began;
    QDateTime ended; // null while it lasts

    bool lasts() const { return ended.isNull(); }
};
