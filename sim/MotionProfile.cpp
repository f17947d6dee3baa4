#include "MotionProfile.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Eps = 1e-9;

double Sign(double x) { return x < 0 ? -1.0 : 1.0; }
}

TMotionProfile::TMotionProfile(double x0, double v0, double x1, double vmax, double a)
    : FTarget(x1)
{
    double x = x0;
    double v = v0;
    // Each pass removes one obstacle to the plain trapezoid: wrong direction,
    // too fast to stop in time, or faster than the travel speed.
    for (;;) {
        const double d = x1 - x;
        const double dir = Sign(d);
        if (std::fabs(v) > Eps && (Sign(v) != dir || v * v / (2 * a) > std::fabs(d) + Eps)) {
            Add(std::fabs(v) / a, x, v, -Sign(v) * a);
            v = 0;
            continue;
        }
        const double s = std::fabs(v);
        if (s > vmax + Eps) {
            Add((s - vmax) / a, x, v, -dir * a);
            continue;
        }
        const double dist = std::fabs(d);
        if (dist < Eps && s < Eps)
            break;
        // Peak speed of a triangle: dist = (vp² - s²)/2a + vp²/2a.
        double vp = std::sqrt(a * dist + s * s / 2);
        double cruise = 0;
        if (vp > vmax) {
            vp = vmax;
            cruise = (dist - (vmax * vmax - s * s) / (2 * a) - vmax * vmax / (2 * a)) / vmax;
        }
        Add(std::max(0.0, (vp - s) / a), x, v, dir * a);
        Add(std::max(0.0, cruise), x, v, 0);
        Add(vp / a, x, v, -dir * a);
        break;
    }
    FSegments.push_back({FDuration, x1, 0, 0});
}

TMotionProfile TMotionProfile::Braking(double x0, double v0, double a)
{
    TMotionProfile p;
    double x = x0;
    double v = v0;
    if (std::fabs(v) > Eps)
        p.Add(std::fabs(v) / a, x, v, -Sign(v) * a);
    p.FSegments.push_back({p.FDuration, x, 0, 0});
    p.FTarget = x;
    return p;
}

void TMotionProfile::Add(double duration, double& x, double& v, double a)
{
    if (duration <= 0)
        return;
    FSegments.push_back({FDuration, x, v, a});
    x += v * duration + a * duration * duration / 2;
    v += a * duration;
    FDuration += duration;
}

const TMotionProfile::TSegment* TMotionProfile::SegmentAt(double t) const
{
    if (FSegments.empty())
        return nullptr;
    const auto it = std::upper_bound(FSegments.begin(), FSegments.end(), t,
        [](double time, const TSegment& s) { return time < s.start; });
    return it == FSegments.begin() ? &FSegments.front() : &*std::prev(it);
}

double TMotionProfile::PositionAt(double t) const
{
    const TSegment* s = SegmentAt(std::min(t, FDuration));
    if (!s)
        return FTarget;
    const double dt = std::max(0.0, std::min(t, FDuration) - s->start);
    return s->x + s->v * dt + s->a * dt * dt / 2;
}

double TMotionProfile::SpeedAt(double t) const
{
    if (t >= FDuration)
        return 0;
    const TSegment* s = SegmentAt(t);
    if (!s)
        return 0;
    return s->v + s->a * std::max(0.0, t - s->start);
}
