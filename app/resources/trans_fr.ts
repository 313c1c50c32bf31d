<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>AlarmHistory</name>
    <message>
        <source>The alarm history is not being kept: %1: %2</source>
        <translation>L&apos;historique des alarmes n&apos;est pas tenu : %1 : %2</translation>
    </message>
    <message>
        <source>%1 d %2 h</source>
        <translation>%1 j %2 h</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>since %1, %2</source>
        <translation>depuis %1, %2</translation>
    </message>
</context>
<context>
    <name>ConfigManager</name>
    <message>
        <source>The password of this server is in the desktop keyring, which could not be read: %1</source>
        <translation>Le mot de passe de ce serveur est dans le trousseau du bureau, qui n&apos;a pas pu être lu : %1</translation>
    </message>
    <message>
        <source>it holds no password for it</source>
        <translation>il n&apos;en contient aucun pour lui</translation>
    </message>
</context>
<context>
    <name>EditserverDialog</name>
    <message>
        <source>Edit server</source>
        <translation>Editer serveur</translation>
    </message>
    <message>
        <source>Hostname</source>
        <translation>Nom dhôte </translation>
    </message>
    <message>
        <source>Login</source>
        <translation>Nom d&apos;utilisateur</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Mot de passe</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Server name</source>
        <translation>Nom du serveur</translation>
    </message>
</context>
<context>
    <name>ExtActionsDialog</name>
    <message>
        <source>Choose file to open</source>
        <translation>Choisir un fichier</translation>
    </message>
</context>
<context>
    <name>ExternalActionsDialog</name>
    <message>
        <source>Add</source>
        <translation>Ajouter</translation>
    </message>
    <message>
        <source>External scripts</source>
        <translation>Scripts externes</translation>
    </message>
    <message>
        <source>External scripts to call on error</source>
        <translation>Scripts externes à appeler lors d&apos;une erreur</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Supprimer</translation>
    </message>
</context>
<context>
    <name>HistoryStore</name>
    <message>
        <source>written by a newer version</source>
        <translation>écrit par une version plus récente</translation>
    </message>
    <message>
        <source>damaged, and it cannot be moved aside</source>
        <translation>endommagé, et il ne peut pas être mis de côté</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>History</source>
        <translation>Historique</translation>
    </message>
    <message>
        <source>Server:</source>
        <translation>Serveur :</translation>
    </message>
    <message>
        <source>Category:</source>
        <translation>Catégorie :</translation>
    </message>
    <message>
        <source>Period:</source>
        <translation>Période :</translation>
    </message>
    <message>
        <source>Export CSV…</source>
        <translation>Exporter en CSV…</translation>
    </message>
    <message>
        <source>All servers</source>
        <translation>Tous les serveurs</translation>
    </message>
    <message>
        <source>All</source>
        <translation>Tout</translation>
    </message>
    <message>
        <source>Recorder</source>
        <translation>Enregistreur</translation>
    </message>
    <message>
        <source>Cameras</source>
        <translation>Caméras</translation>
    </message>
    <message>
        <source>Hardware</source>
        <translation>Matériel</translation>
    </message>
    <message>
        <source>Unreachable</source>
        <translation>Injoignable</translation>
    </message>
    <message>
        <source>Last hour</source>
        <translation>Dernière heure</translation>
    </message>
    <message>
        <source>Last day</source>
        <translation>Dernier jour</translation>
    </message>
    <message>
        <source>Last week</source>
        <translation>Dernière semaine</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Heure</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Serveur</translation>
    </message>
    <message>
        <source>Category</source>
        <translation>Catégorie</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>Ligne</translation>
    </message>
    <message>
        <source>Event</source>
        <translation>Événement</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Durée</translation>
    </message>
    <message>
        <source>In alarm</source>
        <translation>En alarme</translation>
    </message>
    <message>
        <source>Cannot be watched: %1</source>
        <translation>Ne peut pas être surveillé : %1</translation>
    </message>
    <message>
        <source>Notifications ignored</source>
        <translation>Notifications ignorées</translation>
    </message>
    <message>
        <source>lasting, %1</source>
        <translation>en cours, %1</translation>
    </message>
    <message>
        <source>began</source>
        <translation>début</translation>
    </message>
    <message>
        <source>ended</source>
        <translation>fin</translation>
    </message>
    <message>
        <source>Export CSV</source>
        <translation>Exporter en CSV</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>Fichiers CSV (*.csv)</translation>
    </message>
    <message>
        <source>The history could not be written to %1: %2</source>
        <translation>L&apos;historique n&apos;a pas pu être écrit dans %1 : %2</translation>
    </message>
</context>
<context>
    <name>IgnoreNotificationDialog</name>
    <message>
        <source>Days</source>
        <translation>Jours</translation>
    </message>
    <message>
        <source>Hours</source>
        <translation>Heures</translation>
    </message>
    <message>
        <source>Ignore notifications</source>
        <translation>Ignorer les notifications</translation>
    </message>
    <message>
        <source>Ignore notifications for</source>
        <translation>Ignorer les notifications pendant</translation>
    </message>
    <message>
        <source>Minutes</source>
        <translation>Minutes</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Keep passwords in the desktop keyring</source>
        <translation>Garder les mots de passe dans le trousseau du bureau</translation>
    </message>
    <message>
        <source>No desktop keyring answers: %1</source>
        <translation>Aucun trousseau du bureau ne répond : %1</translation>
    </message>
    <message>
        <source>The password of &quot;%1&quot; could not be stored in the desktop keyring: %2</source>
        <translation>Le mot de passe de &quot;%1&quot; n&apos;a pas pu être enregistré dans le trousseau du bureau : %2</translation>
    </message>
    <message>
        <source>It stays in the configuration file.</source>
        <translation>Il reste dans le fichier de configuration.</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Démarrer à l&apos;ouverture de session</translation>
    </message>
    <message>
        <source>The start at login could not be changed in &quot;%1&quot;: %2</source>
        <translation>Le démarrage à l&apos;ouverture de session n&apos;a pas pu être modifié dans &quot;%1&quot; : %2</translation>
    </message>
    <message>
        <source>the registry refused the change</source>
        <translation>le registre a refusé la modification</translation>
    </message>
    <message>
        <source>The servers and scripts could not be saved to &quot;%1&quot;: %2</source>
        <translation>Les serveurs et les scripts n&apos;ont pas pu être enregistrés dans &quot;%1&quot; : %2</translation>
    </message>
    <message>
        <source>Your changes are kept while the program runs and written by the next save that succeeds.</source>
        <translation>Vos modifications sont conservées tant que le programme tourne et écrites au prochain enregistrement réussi.</translation>
    </message>
    <message>
        <source>Add server</source>
        <translation>Ajouter un serveur</translation>
    </message>
    <message>
        <source>Alarms</source>
        <translation>Alarmes</translation>
    </message>
    <message>
        <source>Quelvane Monitor</source>
        <translation>Quelvane Monitor</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Informations</translation>
    </message>
    <message>
        <source>Scripts on alarms</source>
        <translation>Scripts sur alarme</translation>
    </message>
    <message>
        <source>Servers</source>
        <translation>Serveurs</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Historique</translation>
    </message>
</context>
<context>
    <name>ServerAlarmsTreeItem</name>
    <message>
        <source>Cameras</source>
        <translation>Caméras</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <translation>Connexion...</translation>
    </message>
    <message>
        <source>Hardware</source>
        <translation>Matériel</translation>
    </message>
    <message>
        <source>Recorder</source>
        <translation>Enregistreur</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1 : %2</translation>
    </message>
    <message>
        <source>does not answer</source>
        <translation>ne répond pas</translation>
    </message>
    <message>
        <source>login refused</source>
        <translation>identifiants refusés</translation>
    </message>
    <message>
        <source>in error</source>
        <translation>en erreur</translation>
    </message>
    <message>
        <source>Notifications ignored until %1</source>
        <translation>Notifications ignorées jusqu&apos;au %1</translation>
    </message>
</context>
<context>
    <name>ServerAlarmsWidget</name>
    <message numerus="yes">
        <source>and %n more</source>
        <translation>
            <numerusform>et %n autre</numerusform>
            <numerusform>et %n autres</numerusform>
        </translation>
    </message>
    <message>
        <source>Ignore notifications</source>
        <translation>Ignorer les notifications</translation>
    </message>
    <message>
        <source>Unignore notifications</source>
        <translation>Réactiver les notifications</translation>
    </message>
</context>
<context>
    <name>ServerInfoTreeItem</name>
    <message>
        <source>Active modules</source>
        <translation>Modules actifs</translation>
    </message>
    <message>
        <source>Build</source>
        <translation>Build</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <translation>Connexion...</translation>
    </message>
    <message>
        <source>Current metadata sources</source>
        <translation>Nombre de sources de métadonnées actives</translation>
    </message>
    <message>
        <source>Current video sources</source>
        <translation>Nombre de sources vidéo actives</translation>
    </message>
    <message>
        <source>Hardware</source>
        <translation>Matériel</translation>
    </message>
    <message>
        <source>Hardware ID</source>
        <translation>Signature matérielle</translation>
    </message>
    <message>
        <source>License</source>
        <translation>Licence</translation>
    </message>
    <message>
        <source>License expiration date</source>
        <translation>Date d&apos;expiration de la licence</translation>
    </message>
    <message>
        <source>Max metadata sources</source>
        <translation>Nombre maximum de sources de métadonnées</translation>
    </message>
    <message>
        <source>Max passive screens</source>
        <translation>Nombre maximum d&apos;écrans passifs</translation>
    </message>
    <message>
        <source>Max video sources</source>
        <translation>Nombre maximum de sources vidéo</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>Numéro de série</translation>
    </message>
    <message>
        <source>Upgrade expiration date</source>
        <translation>Date d&apos;expiration des mises à jour</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Version</translation>
    </message>
</context>
<context>
    <name>ServerManager</name>
    <message>
        <source>&quot;%1&quot; on stream &quot;%2&quot;: %3</source>
        <translation>&quot;%1&quot; sur le flux &quot;%2&quot;: %3</translation>
    </message>
    <message>
        <source>Error while getting license data</source>
        <translation>Erreur lors de la récupération des données de licence</translation>
    </message>
    <message>
        <source>Error while parsing json response</source>
        <translation>Erreur lors de l&apos;analyse de la réponse json</translation>
    </message>
    <message>
        <source>The server asks for bcrypt cost %1, above the limit of %2</source>
        <translation>Le serveur demande un coût bcrypt de %1, au-delà de la limite de %2</translation>
    </message>
    <message>
        <source>The server did not answer in time</source>
        <translation>Le serveur n&apos;a pas répondu à temps</translation>
    </message>
    <message>
        <source>The server&apos;s reply is too large</source>
        <translation>La réponse du serveur est trop volumineuse</translation>
    </message>
</context>
<context>
    <name>ServerTabWidget</name>
    <message>
        <source>Delete server</source>
        <translation>Supprimer le serveur</translation>
    </message>
    <message>
        <source>Edit server</source>
        <translation>Editer le serveur</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>Watches video-surveillance recording servers from the system tray.</source>
        <translation>Surveille des serveurs d&apos;enregistrement de vidéosurveillance depuis la zone de notification.</translation>
    </message>
    <message>
        <source>Start in the tray without opening the window, as at login; the window opens if no tray has appeared a few seconds later.</source>
        <translation>Démarrer dans la zone de notification sans ouvrir la fenêtre, comme à l&apos;ouverture de session ; la fenêtre s&apos;ouvre si aucune zone de notification n&apos;est apparue quelques secondes plus tard.</translation>
    </message>
</context>
<context>
    <name>Systray</name>
    <message>
        <source>Quit</source>
        <translation>Quitter</translation>
    </message>
    <message>
        <source>Some elements require your attention</source>
        <translation>Certains éléments requièrent votre attention</translation>
    </message>
</context>
</TS>
