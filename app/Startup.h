#pragma once

#include <QString>

class QApplication;

// The application-wide settings made once at start-up, before the main window exists.
class Startup
{
public:
    static const QString styleSheet;

    static void configure(QApplication& app);
    // Installs the catalogue of the system language; returns whether one was installed.
    static bool installTranslator(QApplication& app);
    static QString languageCode();
};
