#include "app/delegate/ClientsTableModel.h"

#include "app/delegate/Formatters.h"

namespace telvo::app {
namespace {

// A device's name comes from the device itself, before it has proved anything. The view would
// break a cell's text at a line or paragraph separator and pass other controls on to the
// font: each becomes U+FFFD, so that every row reads as one line of what was sent.
QString oneLine(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control || c.unicode() == 0x2028 || c.unicode() == 0x2029) c = QChar(0xFFFD);
    return text;
}

}  // namespace

void ClientsTableModel::setDaemonClients(const Value& list) {
    std::vector<Value> rows;
    if (list.isArray()) {
        for (const Value& client : list.array()) {
            if (!client.isDictionary()) continue;
            Value row = client;
            row.set("sent", Value(formattedBandwidth(client["sent"].doubleValue())));
            row.set("time", Value(formattedTime(client["time"].doubleValue())));
            rows.push_back(std::move(row));
        }
    }
    replace(std::move(rows));
}

void ClientsTableModel::clear() { replace({}); }

void ClientsTableModel::replace(std::vector<Value> rows) {
    beginResetModel();
    clients_ = std::move(rows);
    ++resets_;
    endResetModel();
}

int ClientsTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(clients_.size()); }

int ClientsTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant ClientsTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || size_t(index.row()) >= clients_.size() || index.column() > 3)
        return {};
    return oneLine(QString::fromStdString(clients_[size_t(index.row())][kKeys[index.column()]].stringValue()));
}

QVariant ClientsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* titles[] = {"Address", "Hostname", "Sent", "Time"};
    return section >= 0 && section < 4 ? QString::fromLatin1(titles[section]) : QVariant();
}

Qt::ItemFlags ClientsTableModel::flags(const QModelIndex& index) const {
    // Shown, never selected.
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

}  // namespace telvo::app
