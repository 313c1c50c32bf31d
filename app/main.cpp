#include "app/MainWindow.h"
#include "app/Startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Startup::configure(app);

    const bool hidden = Startup::startsHidden(app);

    MainWindow window;
    if (hidden)
        window.startInTray();
    else
        window.show();
    return app.exec();
}
