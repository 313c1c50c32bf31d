#include "views/RowSizeCacheDelegate.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>

RowSizeCacheDelegate::RowSizeCacheDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

bool RowSizeCacheDelegate::Key::operator==(const Key& other) const
{
    return style == other.style && state == other.state && features == other.features &&
           decorationSize == other.decorationSize && decorationPosition == other.decorationPosition &&
           displayAlignment == other.displayAlignment && textElideMode == other.textElideMode &&
           hasText == other.hasText && icon == other.icon && checkable == other.checkable && text == other.text &&
           font == other.font && itemFont == other.itemFont && itemAlignment == other.itemAlignment;
}

uint qHash(const RowSizeCacheDelegate::Key& key, uint seed)
{
    return qHash(key.text, seed) ^ qHash(key.icon, seed) ^ qHash(key.font, seed) ^ qHash(quintptr(key.style), seed) ^
           qHash(uint(key.state) ^ (uint(key.features) << 20), seed) ^
           qHash((uint(key.decorationSize.width()) << 16) ^ uint(key.decorationSize.height()), seed);
}

QSize RowSizeCacheDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant hint = index.data(Qt::SizeHintRole);
    if (hint.isValid())
        return hint.value<QSize>();

    // Only plain texts and icons are remembered: other display values are formatted by locale, and
    // a wrapped text's height depends on the column width, which the key does not hold.
    const QVariant display = index.data(Qt::DisplayRole);
    const QVariant decoration = index.data(Qt::DecorationRole);
    const bool plainDisplay = !display.isValid() || display.userType() == QMetaType::QString;
    const bool plainDecoration = !decoration.isValid() || decoration.userType() == QMetaType::QIcon;
    if (!plainDisplay || !plainDecoration || option.features.testFlag(QStyleOptionViewItem::WrapText))
        return QStyledItemDelegate::sizeHint(option, index);

    // The tests the default delegate makes on each value.
    const auto present = [](const QVariant& value) { return value.isValid() && !value.isNull(); };
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    const Key key{style,
                  option.font,
                  int(option.state),
                  int(option.features),
                  option.decorationSize,
                  int(option.decorationPosition),
                  int(option.displayAlignment),
                  int(option.textElideMode),
                  present(display),
                  display.toString(),
                  present(decoration) ? decoration.value<QIcon>().cacheKey() : 0,
                  index.data(Qt::FontRole),
                  index.data(Qt::TextAlignmentRole),
                  present(index.data(Qt::CheckStateRole))};
    const auto found = sizes.constFind(key);
    if (found != sizes.constEnd())
        return *found;

    const QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (sizes.size() >= maxEntries)
        sizes.clear();
    sizes.insert(key, size);
    return size;
}
