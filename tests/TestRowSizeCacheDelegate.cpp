#include "views/RowSizeCacheDelegate.h"

#include <QPixmap>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

namespace {

QIcon squareIcon(int side)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

} // namespace

// The cache must answer exactly what the default delegate answers, also after a row changes.
class TestRowSizeCacheDelegate : public QObject
{
    Q_OBJECT

private slots:
    void sameAsDefault_data();
    void sameAsDefault();
    void fullCacheStartsOver();

private:
    static QStyleOptionViewItem optionOf(const QTreeView& view);
    static QSize expected(const QTreeView& view, const QModelIndex& index);
    static QSize cached(const QTreeView& view, const QModelIndex& index);
};

// The option a tree view hands its delegate when it measures a row.
QStyleOptionViewItem TestRowSizeCacheDelegate::optionOf(const QTreeView& view)
{
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.font = view.font();
    option.decorationSize = view.iconSize();
    option.widget = &view;
    return option;
}

QSize TestRowSizeCacheDelegate::expected(const QTreeView& view, const QModelIndex& index)
{
    return QStyledItemDelegate().sizeHint(optionOf(view), index);
}

QSize TestRowSizeCacheDelegate::cached(const QTreeView& view, const QModelIndex& index)
{
    return view.itemDelegate()->sizeHint(optionOf(view), index);
}

void TestRowSizeCacheDelegate::sameAsDefault_data()
{
    QTest::addColumn<QVariant>("display");
    QTest::addColumn<QVariant>("decoration");
    QTest::addColumn<QVariant>("font");
    QTest::addColumn<QVariant>("check");
    QTest::addColumn<QVariant>("newDisplay");

    const QVariant none;
    QFont big;
    big.setPointSize(24);
    QTest::newRow("text") << QVariant("Site 1") << none << none << none << QVariant("A much longer site name");
    QTest::newRow("icon") << QVariant("Cameras") << QVariant(squareIcon(48)) << none << none << QVariant("Hardware");
    QTest::newRow("empty vs none") << QVariant(QString("")) << none << none << none << none;
    QTest::newRow("own font") << QVariant("Recorder") << none << QVariant(big) << none << QVariant("Recorder!");
    QTest::newRow("checkable") << QVariant("x") << none << none << QVariant(int(Qt::Checked)) << QVariant("xx");
    QTest::newRow("number") << QVariant(12345.5) << none << none << none << QVariant(1.0);
    QTest::newRow("pixmap") << QVariant("p") << QVariant(QPixmap(40, 40)) << none << none << QVariant("p");
}

void TestRowSizeCacheDelegate::sameAsDefault()
{
    QFETCH(QVariant, display);
    QFETCH(QVariant, decoration);
    QFETCH(QVariant, font);
    QFETCH(QVariant, check);
    QFETCH(QVariant, newDisplay);

    QStandardItemModel model;
    QTreeView view;
    view.setIconSize(QSize(32, 32));
    view.setItemDelegate(new RowSizeCacheDelegate(&view));
    view.setModel(&model);
    auto* item = new QStandardItem;
    item->setData(display, Qt::DisplayRole);
    item->setData(decoration, Qt::DecorationRole);
    item->setData(font, Qt::FontRole);
    item->setData(check, Qt::CheckStateRole);
    // A neighbour with the same text but no icon must not share its entry.
    auto* plain = new QStandardItem;
    plain->setData(display, Qt::DisplayRole);
    model.appendRow(item);
    model.appendRow(plain);

    for (int pass = 0; pass < 2; ++pass) {
        QCOMPARE(cached(view, item->index()), expected(view, item->index()));
        QCOMPARE(cached(view, plain->index()), expected(view, plain->index()));
    }
    item->setData(newDisplay, Qt::DisplayRole);
    QCOMPARE(cached(view, item->index()), expected(view, item->index()));
    item->setData(QVariant(), Qt::DecorationRole);
    QCOMPARE(cached(view, item->index()), expected(view, item->index()));
    QFont small = view.font();
    small.setPointSize(6);
    view.setFont(small);
    QCOMPARE(cached(view, item->index()), expected(view, item->index()));
    view.setIconSize(QSize(64, 64));
    item->setData(decoration, Qt::DecorationRole);
    QCOMPARE(cached(view, item->index()), expected(view, item->index()));
}

void TestRowSizeCacheDelegate::fullCacheStartsOver()
{
    QStandardItemModel model;
    QTreeView view;
    view.setItemDelegate(new RowSizeCacheDelegate(&view));
    view.setModel(&model);
    auto* item = new QStandardItem(QStringLiteral("first"));
    model.appendRow(item);
    const QSize first = cached(view, item->index());
    QString text;
    for (int i = 0; i <= RowSizeCacheDelegate::maxEntries; ++i) {
        text = QString(i % 40 + 1, QLatin1Char('w')) + QString::number(i);
        item->setText(text);
        cached(view, item->index());
    }
    QCOMPARE(cached(view, item->index()), expected(view, item->index()));
    item->setText(QStringLiteral("first"));
    QCOMPARE(cached(view, item->index()), first);
}

QTEST_MAIN(TestRowSizeCacheDelegate)
#include "TestRowSizeCacheDelegate.moc"
