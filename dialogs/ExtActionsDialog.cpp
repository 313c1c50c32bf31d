#include "dialogs/ExtActionsDialog.h"

#include "app/config/ConfigManager.h"
#include "dialogs/ExtActionItem.h"
#include "notify/ExtActionManager.h"
#include "ui_ExtActionsDialog.h"

#include <QFileDialog>
#include <QStandardItemModel>

ExtActionsDialog::ExtActionsDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::ExternalActionsDialog), model(new QStandardItemModel(this))
{
    ui->setupUi(this);
    init();
}

ExtActionsDialog::~ExtActionsDialog()
{
    delete ui;
}

void ExtActionsDialog::init()
{
    extActionManager = ExtActionManager::instance();
    ui->actionListView->setModel(model);
    ui->removeBtn->setEnabled(false);
    connect(extActionManager, &ExtActionManager::actionAdded, this, &ExtActionsDialog::onActionAdded);
    connect(ui->addBtn, &QPushButton::clicked, this, &ExtActionsDialog::onAddClicked);
    connect(ui->removeBtn, &QPushButton::clicked, this, &ExtActionsDialog::onRemoveClicked);
    // Only a mouse click enables Remove; a keyboard selection alone does not.
    connect(ui->actionListView, &QAbstractItemView::clicked, this, [this] { ui->removeBtn->setEnabled(true); });
    connect(model, &QStandardItemModel::rowsRemoved, this, [this] {
        if (model->rowCount() == 0) {
            ui->removeBtn->setEnabled(false);
        }
    });
}

void ExtActionsDialog::onActionAdded(std::shared_ptr<ExtAction> action)
{
    model->appendRow(new ExtActionItem(std::move(action)));
    ConfigManager::instance()->save();
}

void ExtActionsDialog::onAddClicked()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Choose file to open"));
    if (path.isEmpty()) {
        return;
    }
    extActionManager->addAction(path);
    ExtActionManager::startDetached(path);
}

void ExtActionsDialog::onRemoveClicked()
{
    const QModelIndex index = ui->actionListView->selectionModel()->currentIndex();
    auto* item = dynamic_cast<ExtActionItem*>(model->itemFromIndex(index));
    if (!item) {
        return;
    }
    const std::shared_ptr<ExtAction> action = item->action;
    model->removeRow(index.row());
    extActionManager->removeAction(action);
    ConfigManager::instance()->save();
}
