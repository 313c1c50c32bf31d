#pragma once

#include "views/ServerTabWidget.h"

#include <memory>

// The Information page: each server's system information and licence data.
class ServerInfoWidget : public ServerTabWidget
{
    Q_OBJECT

public:
    explicit ServerInfoWidget(QWidget* parent = nullptr);

    void onServerAdded(std::shared_ptr<Server> server);

protected:
    void setupUi() override;
};
