#include "app/MainWindow.h"
#include "app/Startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Startup::configure(app);

    MainWindow window;
    window.show();
    return app.exec();
}
