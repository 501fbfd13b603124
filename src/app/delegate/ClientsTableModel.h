#pragma once
// The rows of the main window's clients table: one dictionary per connected client with the
// daemon's keys "address" and "hostname" (each only when known) and the display texts of
// "sent" and "time". The columns show those four keys in that order; a missing key shows an
// empty cell; a line break or other control character in a cell shows as U+FFFD. Rows cannot
// be selected. Each replacement of the rows is one model reset.
#include <QAbstractTableModel>
#include <QString>
#include <vector>

#include "platform/values/Value.h"

namespace telvo::app {

class ClientsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr const char* kKeys[] = {"address", "hostname", "sent", "time"};

    explicit ClientsTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Replaces every row: the daemon's dictionaries, "sent" and "time" turned into texts.
    void setDaemonClients(const Value& list);
    void clear();
    const std::vector<Value>& clients() const { return clients_; }
    // How many times the rows were replaced (for tests).
    int resets() const { return resets_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void replace(std::vector<Value> rows);
    std::vector<Value> clients_;
    int resets_ = 0;
};

}  // namespace telvo::app
