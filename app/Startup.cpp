#include "app/Startup.h"

#include "app/AutostartEntry.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

const QString Startup::styleSheet = QStringLiteral(
    "#serverTreeView { background-color: #474747; color: white; }"
    "QTreeView::branch:has-children:!has-siblings:closed, QTreeView::branch:closed:has-children:has-siblings "
    "{ border-image: none; image: url(:/icons/branch-closed); }"
    "QTreeView::branch:open:has-children:!has-siblings, QTreeView::branch:open:has-children:has-siblings "
    "{ border-image: none; image: url(:/icons/branch-open); }");

void Startup::configure(QApplication& app)
{
    QApplication::setOrganizationName(QStringLiteral("Quelvane SAS"));
    QApplication::setApplicationName(QStringLiteral("Quelvane Monitor"));
    QApplication::setApplicationVersion(QStringLiteral(QUELVANE_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/main-icon")));
    app.setStyleSheet(styleSheet);
    installTranslator(app);
}

QString Startup::languageCode()
{
    return QLocale::system().name().split(QLatin1Char('_'), Qt::KeepEmptyParts).first();
}

bool Startup::installTranslator(QApplication& app)
{
    bool installed = false;
    const QStringList files{QStringLiteral(":/translations/trans_") + languageCode()};
    for (const QString& file : files) {
        auto* translator = new QTranslator(&app);
        if (translator->load(file, QString(), QString(), QString())) {
            QApplication::installTranslator(translator);
            installed = true;
        } else {
            delete translator;
        }
    }
    return installed;
}

bool Startup::startsHidden(QApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("Startup", "Watches video-surveillance recording servers from the system tray."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption hidden(
        AutostartEntry::hiddenOption,
        QCoreApplication::translate("Startup", "Start in the tray without opening the window, as at login; the "
                                               "window opens if no tray has appeared a few seconds later."));
    parser.addOption(hidden);
    parser.process(app);
    return parser.isSet(hidden);
}
