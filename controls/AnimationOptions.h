// Settings of one animation of a control coordinate: which coordinate, how
// long, and the shape of the curve.
#pragma once

#include <QPointer>
#include <QWidget>

enum TAnimatedProperty { apLeft = 0, apTop = 1, apWidth = 2, apHeight = 3 };

class TAnimationOptions {
public:
    int Duration = 500;                          // milliseconds
    TAnimatedProperty AnimatedProperty = apWidth;
    bool Quadratic = true;                       // quadratic instead of linear curve
    bool EaseOut = false;                        // quadratic: start fast, slow down
    QPointer<QWidget> Control;                   // not owned; cleared if it is destroyed

    void Assign(const TAnimationOptions& source) { *this = source; }
};
