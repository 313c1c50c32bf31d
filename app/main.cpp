#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "app/config/ConfigManager.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Startup::configure(app);

    const bool hidden = Startup::startsHidden(app);
    SingleInstance instance(ConfigManager::instance()->configDir().path());
    if (!instance.claim(!hidden))
        return 0;

    MainWindow window;
    QObject::connect(&instance, &SingleInstance::showRequested, &window, &MainWindow::restoreWindow);
    if (hidden)
        window.startInTray();
    else
        window.show();
    return app.exec();
}
