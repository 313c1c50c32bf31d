#include "dialogs/EditserverDialog.h"

#include "app/config/ConfigManager.h"
#include "monitor/ServerManager.h"
#include "ui_EditserverDialog.h"

EditserverDialog::EditserverDialog(QWidget* parent) : QDialog(parent), ui(new Ui::EditserverDialog)
{
    init();
}

EditserverDialog::~EditserverDialog()
{
    delete ui;
}

void EditserverDialog::init()
{
    serverManager = ServerManager::instance();
    ui->setupUi(this);
}

void EditserverDialog::accept()
{
    if (checkInputs()) {
        QDialog::accept();
    }
}

bool EditserverDialog::checkInputs()
{
    const QList<QWidget*> inputs{ui->nameInput, ui->hostInput, ui->portInput, ui->loginInput, ui->passwordInput};
    const QStringList texts{ui->nameInput->text(), ui->hostInput->text(), ui->portInput->text(), ui->loginInput->text(),
                            ui->passwordInput->text()};
    for (int i = 0; i < inputs.size(); ++i) {
        if (texts.at(i).isEmpty()) {
            inputs.at(i)->setFocus(Qt::OtherFocusReason);
            return false;
        }
    }
    return true;
}

int EditserverDialog::port() const
{
    return ui->portInput->text().toInt(nullptr, 10);
}

void EditserverDialog::newServer(QWidget* parent)
{
    EditserverDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    dialog.serverManager->addServer(dialog.ui->nameInput->text(), dialog.ui->hostInput->text(), dialog.port(),
                                    dialog.ui->loginInput->text(), dialog.ui->passwordInput->text());
    ConfigManager::instance()->save();
}

void EditserverDialog::editServer(QWidget* parent, std::shared_ptr<Server> server)
{
    EditserverDialog dialog(parent);
    dialog.ui->nameInput->setText(server->name);
    dialog.ui->hostInput->setText(server->host);
    dialog.ui->loginInput->setText(server->login);
    dialog.ui->passwordInput->setText(server->password);
    dialog.ui->portInput->setValue(server->port);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    server->name = dialog.ui->nameInput->text();
    server->host = dialog.ui->hostInput->text();
    server->port = dialog.port();
    server->login = dialog.ui->loginInput->text();
    server->password = dialog.ui->passwordInput->text();
    ServerManager::instance()->initServer(server);
    ConfigManager::instance()->save();
}
