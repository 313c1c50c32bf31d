#pragma once

#include "monitor/Server.h"

#include <QDateTime>
#include <QDialog>
#include <memory>

namespace Ui {
class IgnoreNotificationDialog;
}

// Asks how long one alarm category of a server is to be silenced.
class IgnoreNotificationDialog : public QDialog
{
    Q_OBJECT

public:
    explicit IgnoreNotificationDialog(QWidget* parent = nullptr);
    ~IgnoreNotificationDialog() override;

    // The end of the silence; now when the user cancels.
    static QDateTime askIgnoreUntil(QWidget* parent, std::shared_ptr<Server> server);

private:
    Ui::IgnoreNotificationDialog* ui;
};
