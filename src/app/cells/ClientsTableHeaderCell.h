#pragma once
// The clients table's column header: a grey 0.98 to 0.89 gradient, a white top line, a grey
// 0.85 bottom line, and the title in Helvetica 11, grey 0.502, with a white shadow,
// vertically centred two points from the left. TVSClientsTableHeaderView paints every
// section of a table's header with it.
#include <QHeaderView>

#include "app/drawing/Canvas.h"

namespace telvo::app {

void paintClientsTableHeaderCell(Canvas& canvas, const QString& title, const QRectF& frame);

class TVSClientsTableHeaderView : public QHeaderView {
    Q_OBJECT
public:
    explicit TVSClientsTableHeaderView(QWidget* parent = nullptr) : QHeaderView(Qt::Horizontal, parent) {}
    const DrawLog& lastDraw() const { return log_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    mutable DrawLog log_;
};

}  // namespace telvo::app
