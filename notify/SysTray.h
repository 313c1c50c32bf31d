#pragma once

#include <QIcon>
#include <QSystemTrayIcon>

// The tray icon: one image for all servers, a warning balloon on every error report, and "Quit".
class SysTray : public QSystemTrayIcon
{
public:
    explicit SysTray(QObject* parent);
    ~SysTray() override;

    void init();
    void setError(bool inError);

protected:
    // The one place the warning balloon is shown; QSystemTrayIcon::showMessage cannot be overridden,
    // so tests observe the balloon here.
    virtual void showBalloon(const QString& title, const QString& message);

private:
    // Made once: the resource names carry no suffix, so each new QIcon would sniff the file's type and
    // parse the SVG again, and setError runs on every change of the Alarms page.
    const QIcon okIcon{QStringLiteral(":/icons/systray-ok")};
    const QIcon alarmIcon{QStringLiteral(":/icons/systray-nok")};
};
