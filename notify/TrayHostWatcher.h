#pragma once

#include <QObject>
#include <QTimer>

// Qt picks its kind of tray icon, over D-Bus or XEmbed, once per process: when the first icon is made
// or the tray is first asked about. Wayland has only the first, so an icon made before the desktop's
// tray host is on the session bus never shows. There the icon waits a while for the host: a panel
// started with the session comes within it, and a desktop with no tray at all only delays the icon's
// other duties (the desktop's notifications) by that much. The watcher is asked without waiting for
// it: one that holds its name but does not answer must not freeze the start.
class TrayHostWatcher : public QObject
{
    Q_OBJECT

public:
    TrayHostWatcher(QObject* parent, int maxWait);

    // Whether the tray icon may have to wait: a platform with no XEmbed tray.
    static bool mayWait();

signals:
    // The host is there, or the wait is over: time to make the icon. Emitted once.
    void waitOver();

private slots:
    void check();

private:
    QTimer timer;
};
