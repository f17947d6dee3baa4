#include "TrackCoupling.h"

#include <algorithm>
#include <cmath>

int TrackPositionFor(long double value, long double min, long double max, int trackMax)
{
    if (!(max > min) || trackMax <= 0)
        return 0;
    const long double share = (std::clamp(value, min, max) - min) / (max - min);
    return static_cast<int>(std::nearbyint(share * trackMax));
}

long double EditValueFor(int position, long double min, long double max, int trackMax)
{
    if (trackMax <= 0)
        return min;
    const double v = static_cast<double>(min + static_cast<long double>(position) / trackMax * (max - min));
    return std::nearbyint(v * 10) / 10;
}
