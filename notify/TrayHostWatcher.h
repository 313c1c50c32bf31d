#pragma once

#include <QObject>
#include <QTimer>

// Qt picks its kind of tray icon, over D-Bus or XEmbed, once per process: when the first icon is made
// or the tray is first asked about. Wayland has only the first, so an icon made before the desktop's
// tray host is on the session bus never shows. There the icon waits a while for the host: a panel
// started with the session comes within it, and a desktop with no tray at all only delays the icon's
// other duties (the desktop's notifications) by that much.
class TrayHostWatcher : public QObject
{
    Q_OBJECT

public:
    TrayHostWatcher(QObject* parent, int maxWait);

    // Whether the tray icon must wait: a platform with no XEmbed tray, and no host yet.
    static bool mustWait();

signals:
    // The host is there, or the wait is over: time to make the icon. Emitted once.
    void waitOver();

private slots:
    void check();

private:
    QTimer timer;
};
