#include "views/NotificationTreeItem.h"

#include <QIcon>

NotificationTreeItem::NotificationTreeItem(const QString& text, QStringList* messages, QDateTime& ignoreUntil,
                                           const QDateTime& serverIgnoreUntil)
    : TreeItem(text), ignoreUntil(ignoreUntil), serverIgnoreUntil(serverIgnoreUntil), text(text), messages(messages)
{
}

NotificationTreeItem::~NotificationTreeItem() = default;

int NotificationTreeItem::type() const
{
    return Type;
}

QVariant NotificationTreeItem::data(int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        return text;
    case Qt::DecorationRole:
        return cachedIcon(iconPath());
    case Qt::UserRole - 1:
        // QStandardItem keeps the item flags under this role; without it flags() would fall back to editable.
        return QStandardItem::data(role);
    default:
        return QVariant();
    }
}

bool NotificationTreeItem::isIgnored() const
{
    return silenceHolds(ignoreUntil) || silenceHolds(serverIgnoreUntil);
}

bool NotificationTreeItem::silenceHolds(const QDateTime& until)
{
    return !until.isNull() && QDateTime::currentDateTime() < until;
}

void NotificationTreeItem::refresh()
{
    // Most reports repeat the last one: rows left alone keep the user's selection and scroll position,
    // and the view has nothing to lay out again.
    static const QStringList none;
    const QStringList& lines = isIgnored() ? none : *messages;
    if (!showsLines(lines)) {
        removeAllChildren();
        for (const QString& line : lines) {
            appendChild(new TreeItem(line));
        }
    }
    const QString icon = iconPath();
    if (icon != shownIcon) {
        shownIcon = icon;
        emitDataChanged();
    }
}

bool NotificationTreeItem::showsLines(const QStringList& lines) const
{
    if (rowCount() != lines.size()) {
        return false;
    }
    for (int row = 0; row < lines.size(); ++row) {
        if (child(row)->text() != lines.at(row)) {
            return false;
        }
    }
    return true;
}

QString NotificationTreeItem::iconPath() const
{
    if (isIgnored()) {
        return QStringLiteral(":/icons/ignored");
    }
    const bool inAlarm = !messages->isEmpty();
    switch (category) {
    case RecorderCategory:
        return inAlarm ? QStringLiteral(":/icons/recorder-nok") : QStringLiteral(":/icons/recorder-ok");
    case HardwareCategory:
        return inAlarm ? QStringLiteral(":/icons/hardware-nok") : QStringLiteral(":/icons/hardware-ok");
    case CamerasCategory:
        return inAlarm ? QStringLiteral(":/icons/cameras-nok") : QStringLiteral(":/icons/cameras-ok");
    }
    return QString();
}
