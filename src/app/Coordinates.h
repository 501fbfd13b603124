#pragma once
// The one coordinate rule of the application. The drawing rules of the application's design
// measure y upwards from the bottom edge of an unflipped view (controls and cells are flipped
// and measure downwards like Qt); Qt measures y downwards from the top. Every table of
// positions taken from the design is written in its own numbers and converted here, once.
namespace telvo::app {

// Qt's y of an item of height `itemHeight` whose bottom edge lies `bottomUpY` above the
// bottom of a container `containerHeight` high.
constexpr double qtY(double bottomUpY, double itemHeight, double containerHeight) {
    return containerHeight - bottomUpY - itemHeight;
}

}  // namespace telvo::app
