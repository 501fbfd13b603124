// The built bundle holds every image the application names, rendered from our SVG sources at
// the sizes the drawing code relies on (caps, heights, the controls view's size).
#include <gtest/gtest.h>

#include <QImage>

#include "QtTestEnvironment.h"
#include "app/Bundle.h"
#include "app/drawing/ImageCache.h"

namespace telvo::app {
namespace {

TEST(ArtworkTest, EveryNamedImageIsBuiltAtItsSize) {
    struct Case {
        QString name;
        QSize size;
    };
    std::vector<Case> cases = {
        {"window-titlebar", {630, 30}},       {"traffic-all", {34, 14}},
        {"traffic-all-graphite", {34, 14}},   {"traffic-all-disabled", {34, 14}},
        {"connected", {16, 16}},              {"notconnected", {16, 16}},
        {"passcode-locked", {40, 52}},        {"passcode-background", {300, 120}},
        {"password-background", {300, 120}},  {"buttonarea-background", {40, 40}},
        {"window-about", {320, 200}},         {"sheet-header", {480, 40}},
        {"welcome-overlay", {500, 300}},      {"welcome-button", {120, 40}},
        {"welcome-button-down", {120, 40}},   {"ui-button-20", {30, 20}},
        {"ui-button-20-down", {30, 20}},      {"ui-popup-20", {40, 20}},
        {"ui-popup-20-down", {40, 20}},       {"ui-checkbox-20", {14, 20}},
        {"ui-checkbox-20-down", {14, 20}},    {"ui-checkbox-20-on", {14, 20}},
        {"ui-checkbox-20-on-down", {14, 20}}, {"TelvoServer", {128, 128}},
    };
    for (const char* s : {"status-red", "status-green", "status-yellow", "status-disabled"}) cases.push_back({s, {12, 12}});
    for (int d = 0; d <= 9; ++d) cases.push_back({QStringLiteral("passcode-%1").arg(d), {40, 52}});
    for (const char* base : {"traffic-close", "traffic-minimise"})
        for (const char* suffix : {"", "-down", "-hover", "-down-graphite", "-hover-graphite", "-disabled"})
            cases.push_back({QString::fromLatin1(base) + suffix, {14, 14}});
    for (const auto& c : cases) {
        QImage image(imagePath(c.name));
        EXPECT_FALSE(image.isNull()) << c.name.toStdString() << " missing in " << resourcesFolder().toStdString();
        EXPECT_EQ(image.size(), c.size) << c.name.toStdString();
        EXPECT_TRUE(image.hasAlphaChannel()) << c.name.toStdString();
    }
}

}  // namespace
}  // namespace telvo::app
