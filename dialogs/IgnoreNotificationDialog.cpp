#include "dialogs/IgnoreNotificationDialog.h"

#include "monitor/ServerManager.h"
#include "ui_IgnoreNotificationDialog.h"

IgnoreNotificationDialog::IgnoreNotificationDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::IgnoreNotificationDialog)
{
    ui->setupUi(this);
}

IgnoreNotificationDialog::~IgnoreNotificationDialog()
{
    delete ui;
}

QDateTime IgnoreNotificationDialog::askIgnoreUntil(QWidget* parent, std::shared_ptr<Server> server)
{
    IgnoreNotificationDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) {
        return QDateTime::currentDateTime();
    }
    const qint64 seconds =
        qint64(dialog.ui->hoursInput->value()) * 3600 + qint64(dialog.ui->minutesInput->value()) * 60;
    const QDateTime until = QDateTime::currentDateTime().addDays(dialog.ui->daysInput->value()).addSecs(seconds);
    ServerManager::instance()->refreshAlarms(server);
    return until;
}
