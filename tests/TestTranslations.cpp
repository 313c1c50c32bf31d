#include <QCoreApplication>
#include <QTranslator>
#include <QtTest>

namespace {
// Context, source, translation.
const char* const catalogue[][3] = {
    {"EditserverDialog", "Edit server", "Editer serveur"},
    {"EditserverDialog", "Hostname", "Nom dhôte "},
    {"EditserverDialog", "Login", "Nom d'utilisateur"},
    {"EditserverDialog", "Password", "Mot de passe"},
    {"EditserverDialog", "Port", "Port"},
    {"EditserverDialog", "Server name", "Nom du serveur"},
    {"ExtActionsDialog", "Choose file to open", "Choisir un fichier"},
    {"ExternalActionsDialog", "Add", "Ajouter"},
    {"ExternalActionsDialog", "External scripts", "Scripts externes"},
    {"ExternalActionsDialog", "External scripts to call on error", "Scripts externes à appeler lors d'une erreur"},
    {"ExternalActionsDialog", "Remove", "Supprimer"},
    {"IgnoreNotificationDialog", "Days", "Jours"},
    {"IgnoreNotificationDialog", "Hours", "Heures"},
    {"IgnoreNotificationDialog", "Ignore notifications", "Ignorer les notifications"},
    {"IgnoreNotificationDialog", "Ignore notifications for", "Ignorer les notifications pendant"},
    {"IgnoreNotificationDialog", "Minutes", "Minutes"},
    {"MainWindow", "Add server", "Ajouter un serveur"},
    {"MainWindow", "Alarms", "Alarmes"},
    {"MainWindow", "Quelvane Monitor", "Quelvane Monitor"},
    {"MainWindow", "Information", "Informations"},
    {"MainWindow", "Scripts on alarms", "Scripts sur alarme"},
    {"MainWindow", "Servers", "Serveurs"},
    {"ServerAlarmsTreeItem", "Cameras", "Caméras"},
    {"ServerAlarmsTreeItem", "Connecting...", "Connexion..."},
    {"ServerAlarmsTreeItem", "Hardware", "Matériel"},
    {"ServerAlarmsTreeItem", "Recorder", "Enregistreur"},
    {"ServerAlarmsWidget", "Ignore notifications", "Ignorer les notifications"},
    {"ServerAlarmsWidget", "Unignore notifications", "Réactiver les notifications"},
    {"ServerInfoTreeItem", "Active modules", "Modules actifs"},
    {"ServerInfoTreeItem", "Build", "Build"},
    {"ServerInfoTreeItem", "Connecting...", "Connexion..."},
    {"ServerInfoTreeItem", "Current metadata sources", "Nombre de sources de métadonnées actives"},
    {"ServerInfoTreeItem", "Current video sources", "Nombre de sources vidéo actives"},
    {"ServerInfoTreeItem", "Hardware", "Matériel"},
    {"ServerInfoTreeItem", "Hardware ID", "Signature matérielle"},
    {"ServerInfoTreeItem", "License", "Licence"},
    {"ServerInfoTreeItem", "License expiration date", "Date d'expiration de la licence"},
    {"ServerInfoTreeItem", "Max metadata sources", "Nombre maximum de sources de métadonnées"},
    {"ServerInfoTreeItem", "Max passive screens", "Nombre maximum d'écrans passifs"},
    {"ServerInfoTreeItem", "Max video sources", "Nombre maximum de sources vidéo"},
    {"ServerInfoTreeItem", "Serial number", "Numéro de série"},
    {"ServerInfoTreeItem", "Upgrade expiration date", "Date d'expiration des mises à jour"},
    {"ServerInfoTreeItem", "Version", "Version"},
    {"ServerManager", "\"%1\" on stream \"%2\": %3", "\"%1\" sur le flux \"%2\": %3"},
    {"ServerManager", "Error while getting license data", "Erreur lors de la récupération des données de licence"},
    {"ServerManager", "Error while parsing json response", "Erreur lors de l'analyse de la réponse json"},
    {"ServerManager", "The server did not answer in time", "Le serveur n'a pas répondu à temps"},
    {"ServerManager", "The server's reply is too large", "La réponse du serveur est trop volumineuse"},
    {"ServerTabWidget", "Delete server", "Supprimer le serveur"},
    {"ServerTabWidget", "Edit server", "Editer le serveur"},
    {"Systray", "Quit", "Quitter"},
    {"Systray", "Some elements require your attention", "Certains éléments requièrent votre attention"},
};
} // namespace

// The French catalogue as the program installs it: every message, and the lookups that must miss.
class TestTranslations : public QObject
{
    Q_OBJECT

    QTranslator translator;

private slots:
    void initTestCase()
    {
        QVERIFY(translator.load(QStringLiteral(":/translations/trans_fr")));
        QVERIFY(translator.language().isEmpty());
        QVERIFY(QCoreApplication::installTranslator(&translator));
    }

    void lookup_data()
    {
        QTest::addColumn<QByteArray>("context");
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("translation"); // empty: the lookup misses and the source shows
        const auto row = [](const char* context, const char* source, const char* translation) {
            QTest::addRow("%s/%s", context, source)
                << QByteArray(context) << QByteArray(source) << QString::fromUtf8(translation);
        };
        for (const auto& message : catalogue) {
            row(message[0], message[1], message[2]);
        }
        // Only the external-scripts form translates "Add".
        for (const char* context :
             {"MainWindow", "ExtActionsDialog", "EditserverDialog", "ServerTabWidget", "TreeItem"}) {
            row(context, "Add", "");
        }
        // Tree rows look their texts up under "TreeItem", which the catalogue does not hold.
        QSet<QByteArray> treeSources;
        for (const auto& message : catalogue) {
            if (QByteArray(message[0]).endsWith("TreeItem") && !treeSources.contains(message[1])) {
                treeSources.insert(message[1]);
                row("TreeItem", message[1], "");
            }
        }
        // Contexts are case-sensitive and the file-chooser title belongs to the dialog class only.
        row("SysTray", "Quit", "");
        row("SysTray", "Some elements require your attention", "");
        row("ExternalActionsDialog", "Choose file to open", "");
        row("MainWindow", "Edit server", "");
    }

    void lookup()
    {
        QFETCH(QByteArray, context);
        QFETCH(QByteArray, source);
        QFETCH(QString, translation);
        QCOMPARE(translator.translate(context.constData(), source.constData()), translation);
        QCOMPARE(QCoreApplication::translate(context.constData(), source.constData()),
                 translation.isEmpty() ? QString::fromUtf8(source) : translation);
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "TestTranslations.moc"
