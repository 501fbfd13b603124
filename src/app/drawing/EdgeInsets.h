#pragma once
// Cap sizes of a sliced image, in points: top, left, bottom, right.
namespace telvo::app {

struct EdgeInsets {
    double top = 0, left = 0, bottom = 0, right = 0;
};

}  // namespace telvo::app
