#pragma once
// A record of what a painter function drew: each named image with its rectangle and opacity,
// each text with its rectangle and style, in Qt's coordinates. Tests read names and
// rectangles from it instead of comparing glyph pixels.
#include <QRectF>
#include <QString>
#include <vector>

namespace telvo::app {

struct DrawCall {
    enum class Kind { Image, ThreePart, Text, Fill };
    Kind kind = Kind::Image;
    QString name;  // image name, or the text drawn
    QRectF rect;
    double alpha = 1.0;
    QString fontFamily;
    double fontSize = 0;
    double grey = 0;
    int alignment = 0;
};

inline DrawCall makeDrawCall(DrawCall::Kind kind, const QString& name, const QRectF& rect, double alpha) {
    DrawCall call;
    call.kind = kind;
    call.name = name;
    call.rect = rect;
    call.alpha = alpha;
    return call;
}

struct DrawLog {
    std::vector<DrawCall> calls;

    void clear() { calls.clear(); }
    // The calls of one kind, in order.
    std::vector<DrawCall> of(DrawCall::Kind kind) const {
        std::vector<DrawCall> out;
        for (const auto& c : calls)
            if (c.kind == kind) out.push_back(c);
        return out;
    }
    // The names of the images drawn (whole or sliced), in order.
    std::vector<QString> imageNames() const {
        std::vector<QString> out;
        for (const auto& c : calls)
            if (c.kind == DrawCall::Kind::Image || c.kind == DrawCall::Kind::ThreePart) out.push_back(c.name);
        return out;
    }
};

}  // namespace telvo::app
