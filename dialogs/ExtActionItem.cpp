#include "dialogs/ExtActionItem.h"

ExtActionItem::ExtActionItem(std::shared_ptr<ExtAction> action) : action(std::move(action))
{
    setData(this->action->path, Qt::DisplayRole);
    setData(this->action->path, Qt::ToolTipRole);
    setEditable(false);
}
