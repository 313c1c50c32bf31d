#include "views/HistoryWindow.h"

#include "history/AlarmHistory.h"
#include "ui_HistoryWindow.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QMap>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardItemModel>
#include <algorithm>

namespace {

QString timeText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// RFC 4180: a field with a separator, a quote or a line break goes in quotes, its quotes doubled.
QByteArray csvField(const QString& text)
{
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r'))
        field = '"' + field.replace("\"", "\"\"") + '"';
    return field;
}

} // namespace

HistoryWindow::HistoryWindow(AlarmHistory* history, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::HistoryWindow>()), history(history),
      eventsModel(new QStandardItemModel(this)), summaryModel(new QStandardItemModel(this))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    ui->serverFilter->addItem(tr("All servers"));
    ui->categoryFilter->addItem(tr("All"), QString());
    ui->categoryFilter->addItem(tr("Recorder"), QStringLiteral("recorder"));
    ui->categoryFilter->addItem(tr("Cameras"), QStringLiteral("cameras"));
    ui->categoryFilter->addItem(tr("Hardware"), QStringLiteral("hardware"));
    ui->categoryFilter->addItem(tr("Unreachable"), QStringLiteral("unreachable"));
    ui->periodFilter->addItem(tr("Last hour"), 3600);
    ui->periodFilter->addItem(tr("Last day"), 24 * 3600);
    ui->periodFilter->addItem(tr("Last week"), 7 * 24 * 3600);
    ui->periodFilter->addItem(tr("All"), 0);
    ui->periodFilter->setCurrentIndex(1);
    eventsModel->setHorizontalHeaderLabels(
        {tr("Time"), tr("Server"), tr("Category"), tr("Line"), tr("Event"), tr("Duration")});
    summaryModel->setHorizontalHeaderLabels(
        {tr("Server"), tr("Unreachable"), tr("Recorder"), tr("Cameras"), tr("Hardware")});
    ui->eventsView->setModel(eventsModel);
    ui->summaryView->setModel(summaryModel);
    ui->eventsView->horizontalHeader()->setStretchLastSection(true);
    ui->eventsView->verticalHeader()->setVisible(false);
    ui->summaryView->verticalHeader()->setVisible(false);
    ui->splitter->setStretchFactor(0, 2);
    ui->splitter->setStretchFactor(1, 1);
    ui->splitter->setSizes({620, 360});
    for (QComboBox* filter : {ui->serverFilter, ui->categoryFilter, ui->periodFilter})
        connect(filter, qOverload<int>(&QComboBox::activated), this, &HistoryWindow::reload);
    connect(ui->exportButton, &QPushButton::clicked, this, &HistoryWindow::chooseExportFile);
    // Only while it is shown: a hidden window costs the monitoring nothing.
    connect(history, &AlarmHistory::changed, this, [this] {
        if (isVisible())
            reload();
    });
}

HistoryWindow::~HistoryWindow() = default;

QDateTime HistoryWindow::periodStart() const
{
    const int seconds = ui->periodFilter->currentData().toInt();
    return seconds > 0 ? history->now().addSecs(-seconds) : QDateTime::fromMSecsSinceEpoch(0);
}

bool HistoryWindow::passes(const HistoryEvent& event) const
{
    if (ui->serverFilter->currentIndex() > 0 && event.server != ui->serverFilter->currentText())
        return false;
    const QString category = ui->categoryFilter->currentData().toString();
    if (category.isEmpty())
        return true;
    if (category == QLatin1String("unreachable"))
        return event.kind == HistoryEvent::Unreachable;
    return event.category == category && event.kind != HistoryEvent::Silence;
}

QString HistoryWindow::categoryText(const HistoryEvent& event) const
{
    if (event.category == QLatin1String("recorder"))
        return tr("Recorder");
    if (event.category == QLatin1String("cameras"))
        return tr("Cameras");
    if (event.category == QLatin1String("hardware"))
        return tr("Hardware");
    return QString();
}

QString HistoryWindow::lineText(const HistoryEvent& event) const
{
    switch (event.kind) {
    case HistoryEvent::Line:
        return event.line;
    case HistoryEvent::Category:
        return tr("In alarm");
    case HistoryEvent::Unreachable:
        return tr("Cannot be watched: %1").arg(event.detail);
    case HistoryEvent::Silence:
        return tr("Notifications ignored");
    }
    return QString();
}

void HistoryWindow::reload()
{
    const QString unavailable = history->unavailableReason();
    ui->unavailableLabel->setText(unavailable);
    ui->unavailableLabel->setVisible(!unavailable.isEmpty());
    const QDateTime to = history->now();
    const QDateTime from = periodStart();
    const QVector<HistoryEvent> events = history->events(from);

    QStringList servers;
    for (const HistoryEvent& event : events)
        servers << event.server;
    servers.removeDuplicates();
    servers.sort(Qt::CaseInsensitive);
    const QString chosen = ui->serverFilter->currentIndex() > 0 ? ui->serverFilter->currentText() : QString();
    if (!chosen.isEmpty() && !servers.contains(chosen))
        servers << chosen;
    while (ui->serverFilter->count() > 1)
        ui->serverFilter->removeItem(1);
    ui->serverFilter->addItems(servers);
    if (!chosen.isEmpty())
        ui->serverFilter->setCurrentText(chosen);

    rows.clear();
    for (const HistoryEvent& event : events) {
        if (!passes(event))
            continue;
        if (event.began >= from)
            rows.append({event.began, event, true});
        if (!event.lasts() && event.ended >= from)
            rows.append({event.ended, event, false});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.time > b.time; });

    eventsModel->removeRows(0, eventsModel->rowCount());
    for (const Row& row : qAsConst(rows)) {
        const HistoryEvent& e = row.event;
        const QString duration = e.lasts() ? tr("lasting, %1").arg(AlarmHistory::durationText(e.began.msecsTo(to)))
                                           : AlarmHistory::durationText(e.began.msecsTo(e.ended));
        QList<QStandardItem*> items;
        for (const QString& text : {timeText(row.time), e.server, categoryText(e), lineText(e),
                                    row.began ? tr("began") : tr("ended"), duration})
            items << new QStandardItem(text);
        eventsModel->appendRow(items);
    }
    ui->eventsView->resizeColumnsToContents();

    QVector<HistoryEvent> ofServers;
    for (const HistoryEvent& event : events) {
        if (ui->serverFilter->currentIndex() == 0 || event.server == ui->serverFilter->currentText())
            ofServers << event;
    }
    fillSummary(ofServers, from, to);
}

void HistoryWindow::fillSummary(const QVector<HistoryEvent>& events, const QDateTime& from, const QDateTime& to)
{
    // Per server: unreachable, then each category in alarm, within the period.
    const QStringList columns{QString(), QStringLiteral("recorder"), QStringLiteral("cameras"),
                              QStringLiteral("hardware")};
    QMap<QString, QVector<qint64>> totals;
    for (const HistoryEvent& e : events) {
        int column = -1;
        if (e.kind == HistoryEvent::Unreachable)
            column = 0;
        else if (e.kind == HistoryEvent::Category)
            column = int(columns.indexOf(e.category));
        if (column < 0)
            continue;
        const QDateTime start = qMax(e.began, from);
        const QDateTime end = qMin(e.lasts() ? to : e.ended, to);
        QVector<qint64>& row = totals[e.server];
        row.resize(columns.size());
        row[column] += qMax<qint64>(0, start.msecsTo(end));
    }
    summaryModel->removeRows(0, summaryModel->rowCount());
    for (auto it = totals.cbegin(); it != totals.cend(); ++it) {
        QList<QStandardItem*> items{new QStandardItem(it.key())};
        for (qint64 total : it.value())
            items << new QStandardItem(total > 0 ? AlarmHistory::durationText(total) : QString());
        summaryModel->appendRow(items);
    }
    ui->summaryView->resizeColumnsToContents();
}

QByteArray HistoryWindow::csv() const
{
    QByteArray out = "time,server,category,line,event,duration_s\r\n";
    const QDateTime now = history->now();
    for (const Row& row : rows) {
        const HistoryEvent& e = row.event;
        const qint64 duration = e.began.secsTo(e.lasts() ? now : e.ended);
        const QStringList fields{row.time.toOffsetFromUtc(row.time.offsetFromUtc()).toString(Qt::ISODate),
                                 e.server,
                                 categoryText(e),
                                 lineText(e),
                                 row.began ? QStringLiteral("began") : QStringLiteral("ended"),
                                 QString::number(duration)};
        QByteArrayList line;
        for (const QString& field : fields)
            line << csvField(field);
        out += line.join(',') + "\r\n";
    }
    return out;
}

bool HistoryWindow::exportCsv(const QString& path, QString* error) const
{
    QSaveFile file(path);
    const QByteArray data = csv();
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

void HistoryWindow::chooseExportFile()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export CSV"), QStringLiteral("history.csv"),
                                                      tr("CSV files (*.csv)"));
    QString error;
    if (!path.isEmpty() && !exportCsv(path, &error))
        QMessageBox::warning(this, tr("Export CSV"),
                             tr("The history could not be written to %1: %2").arg(QDir::toNativeSeparators(path), error));
}
