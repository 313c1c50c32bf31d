#pragma once

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
};
