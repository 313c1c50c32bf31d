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
    // Reads the command line; --help and --version print and end the program here. Returns whether
    // the program was started to go straight to the tray.
    static bool startsHidden(QApplication& app);
};
