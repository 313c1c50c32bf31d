#pragma once

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QStandardItem>
#include <QStringList>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

// Drives the tab pages the way a user does, through a right click on a row (or below the rows) and the
// context menu that follows; and compares what rows show.
namespace ViewDriver {

// Right-clicks the row of `index` (empty space when invalid), lets the page run its menu, closes the
// menu and returns the texts of the actions it showed, top to bottom. `shown` tells whether a menu opened.
inline QStringList contextMenu(QWidget* page, QTreeView* view, const QModelIndex& index, bool* shown = nullptr)
{
    const QPoint pos = index.isValid() ? view->visualRect(index).center()
                                       : QPoint(view->viewport()->width() / 2, view->viewport()->height() - 3);
    QTest::mouseClick(view->viewport(), Qt::RightButton, Qt::NoModifier, pos);

    QMenu* opened = nullptr;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, &closer, [&opened] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            opened = menu;
            menu->close();
        }
    });
    closer.start();
    const QPoint global = view->viewport()->mapToGlobal(pos);
    QContextMenuEvent event(QContextMenuEvent::Mouse, page->mapFromGlobal(global), global);
    QApplication::sendEvent(page, &event);
    closer.stop();

    if (shown) {
        *shown = opened != nullptr;
    }
    QStringList texts;
    if (opened) {
        for (QAction* action : opened->actions()) {
            if (action->isVisible()) {
                texts << action->text();
            }
        }
    }
    return texts;
}

// Whether a decoration value renders the same pixels as the image at `path` (which must exist).
inline bool sameIcon(const QVariant& value, const QString& path)
{
    if (!value.canConvert<QIcon>()) {
        return false;
    }
    const QImage shown = value.value<QIcon>().pixmap(32, 32).toImage();
    const QImage expected = QIcon(path).pixmap(32, 32).toImage();
    return !expected.isNull() && shown == expected;
}

// The action of the page's context menu with this text.
inline QAction* menuAction(QTreeView* view, const QString& text)
{
    for (QAction* action : view->findChild<QMenu*>()->actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

// The texts of an item's children, top to bottom.
inline QStringList childTexts(const QStandardItem* item)
{
    QStringList texts;
    for (int i = 0; i < item->rowCount(); ++i) {
        texts << item->child(i)->text();
    }
    return texts;
}

// Saves a picture for a reviewer under QUELVANE_TEST_ARTIFACTS; true when saved or when no folder is set.
inline bool saveShot(const QPixmap& picture, const QString& name)
{
    const QString dir = qEnvironmentVariable("QUELVANE_TEST_ARTIFACTS");
    return dir.isEmpty() || picture.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace ViewDriver
