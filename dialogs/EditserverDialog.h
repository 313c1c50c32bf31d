#pragma once

#include "monitor/Server.h"

#include <QDialog>
#include <memory>

class ServerManager;

namespace Ui {
class EditserverDialog;
}

// Asks for the five settings of a server, for adding one or changing one.
class EditserverDialog : public QDialog
{
    Q_OBJECT

public:
    explicit EditserverDialog(QWidget* parent = nullptr);
    ~EditserverDialog() override;

    bool checkInputs();

    static void newServer(QWidget* parent);
    static void editServer(QWidget* parent, std::shared_ptr<Server> server);

public slots:
    void accept() override;

private:
    void init();
    int port() const;

    ServerManager* serverManager = nullptr;
    Ui::EditserverDialog* ui;
};
