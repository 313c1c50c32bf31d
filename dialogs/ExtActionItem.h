#pragma once

#include "notify/ExtAction.h"

#include <QStandardItem>
#include <memory>

// The row of one script in the scripts dialog; it keeps its action alive.
class ExtActionItem : public QStandardItem
{
public:
    explicit ExtActionItem(std::shared_ptr<ExtAction> action);

    std::shared_ptr<ExtAction> action;
};
