#pragma once

#include "history/HistoryEvent.h"

#include <QDateTime>
#include <QVector>
#include <QWidget>
#include <memory>

class AlarmHistory;
class QStandardItemModel;

namespace Ui {
class HistoryWindow;
}

// The alarm history, newest first, filtered by server, category and period; beside it, how long each
// server was unreachable and each category in alarm over the period: the report sent after an incident.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryWindow(AlarmHistory* history, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // One row of the table: an event's beginning or its end.
    struct Row
    {
        QDateTime time;
        HistoryEvent event;
        bool began = true;
    };
    const QVector<Row>& shownRows() const { return rows; }
    // What the table shows, as CSV: UTF-8, RFC 4180 quoting, ISO 8601 times, durations in seconds.
    QByteArray csv() const;
    bool exportCsv(const QString& path, QString* error) const;

public slots:
    void reload();

private:
    QDateTime periodStart() const;
    bool passes(const HistoryEvent& event) const;
    void fillSummary(const QVector<HistoryEvent>& events, const QDateTime& from, const QDateTime& to);
    void chooseExportFile();
    QString categoryText(const HistoryEvent& event) const;
    QString lineText(const HistoryEvent& event) const;

    std::unique_ptr<Ui::HistoryWindow> ui;
    AlarmHistory* history;
    QStandardItemModel* eventsModel;
    QStandardItemModel* summaryModel;
    QVector<Row> rows;
};
