#pragma once
// Conversion between the value of a float edit and the position of the track
// bar coupled with it. Both directions map the edit's range [min, max] onto
// the track's [0, trackMax], so a track bar placed for a value reads back
// that value (to one decimal), and the largest value sits at the end of the
// track. Rounding is to the nearest integer, halves to the even neighbour.

// Track position for `value`: round((value - min) / (max - min) * trackMax)
// when max > min, else 0. Values outside the range are clamped to it.
int TrackPositionFor(long double value, long double min, long double max, int trackMax);

// Edit value for track `position`: min + position / trackMax * (max - min),
// rounded to one decimal.
long double EditValueFor(int position, long double min, long double max, int trackMax);
