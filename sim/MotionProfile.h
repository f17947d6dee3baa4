#pragma once
// One-axis motion profile with a trapezoidal speed curve: accelerates at a
// constant rate up to the travel speed, cruises and brakes to stand still at
// the target. It may start while the axis is still moving (speed v0): when
// the axis cannot stop in time or moves the wrong way it first brakes and
// then travels back.
#include <vector>

class TMotionProfile {
public:
    TMotionProfile() = default;
    // Plans a move from x0 (mm) at speed v0 (mm/s, signed) to x1, with at
    // most vmax (mm/s, > 0) and acceleration a (mm/s², > 0).
    TMotionProfile(double x0, double v0, double x1, double vmax, double a);
    // A profile that only brakes from speed v0 to stand still.
    static TMotionProfile Braking(double x0, double v0, double a);

    double Duration() const { return FDuration; }      // s
    double PositionAt(double t) const;                  // mm, t in s
    double SpeedAt(double t) const;                     // mm/s, signed
    double Target() const { return FTarget; }

private:
    struct TSegment {
        double start; // s since the profile began
        double x;     // position at start
        double v;     // speed at start
        double a;     // constant acceleration during the segment
    };
    void Add(double duration, double& x, double& v, double a);
    const TSegment* SegmentAt(double t) const;

    std::vector<TSegment> FSegments;
    double FDuration = 0;
    double FTarget = 0;
};
