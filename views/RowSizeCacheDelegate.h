#pragma once

#include <QFont>
#include <QHash>
#include <QSize>
#include <QStyledItemDelegate>

class QStyle;

// The default delegate, except that row sizes are remembered. A tree whose rows differ in height
// measures a row at every change of it and every row above a changed one after a relayout; measuring
// shapes the text and asks the icon for its size, and with hundreds of servers refreshed each period
// that was a good part of the window's work, though the texts rarely change.
class RowSizeCacheDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit RowSizeCacheDelegate(QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Alarm texts come and go; past this many distinct rows the cache starts over.
    static constexpr int maxEntries = 8192;

private:
    // The option as the view gives it and the item data that the size depends on. Taken before the
    // style option is filled in, since filling it in costs about as much as a cached answer saves.
    struct Key
    {
        const QStyle* style;
        QFont font;
        int state;
        int features;
        QSize decorationSize;
        int decorationPosition;
        int displayAlignment;
        int textElideMode;
        bool hasText;
        QString text;
        qint64 icon;
        QVariant itemFont;
        QVariant itemAlignment;
        bool checkable;

        bool operator==(const Key& other) const;
    };
    friend uint qHash(const Key& key, uint seed);

    mutable QHash<Key, QSize> sizes;
};
