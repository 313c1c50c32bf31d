#pragma once

#include "views/TreeItem.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

enum NotificationCategory
{
    RecorderCategory = 0,
    HardwareCategory = 1,
    CamerasCategory = 2,
};

// One alarm category of a server in the Alarms tree; the user may silence it until ignoreUntil.
class NotificationTreeItem : public TreeItem
{
public:
    enum
    {
        Type = QStandardItem::UserType + 2
    };

    // serverIgnoreUntil is the silence of the whole server, which holds every category too.
    NotificationTreeItem(const QString& text, QStringList* messages, QDateTime& ignoreUntil,
                         const QDateTime& serverIgnoreUntil);
    ~NotificationTreeItem() override;

    int type() const override;
    QVariant data(int role = Qt::UserRole + 1) const override;

    bool isIgnored() const;
    // Whether a silence until `until` holds now.
    static bool silenceHolds(const QDateTime& until);
    void refresh();
    // The image shown for the category right now; kept apart from data() so it can be checked by path.
    QString iconPath() const;

    // The server record's own, so that rows made again after a failure keep the user's silence.
    QDateTime& ignoreUntil;
    const QDateTime& serverIgnoreUntil;
    QString text;
    QStringList* messages;
    NotificationCategory category = RecorderCategory;

private:
    bool showsLines(const QStringList& lines) const;

    // The icon the view was last told of; the row announces a change only when it differs.
    QString shownIcon;
};
