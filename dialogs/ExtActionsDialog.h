#pragma once

#include "notify/ExtAction.h"

#include <QDialog>
#include <memory>

class ExtActionManager;
class QStandardItemModel;

namespace Ui {
class ExternalActionsDialog;
}

// Lists the external scripts; adds one through a file chooser and removes the selected one.
class ExtActionsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExtActionsDialog(QWidget* parent = nullptr);
    ~ExtActionsDialog() override;

private:
    void init();
    void onActionAdded(std::shared_ptr<ExtAction> action);
    void onAddClicked();
    void onRemoveClicked();

    Ui::ExternalActionsDialog* ui;
    ExtActionManager* extActionManager = nullptr;
    QStandardItemModel* model;
};
