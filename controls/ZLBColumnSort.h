// Ordering of list items by the text of one column: numbers by value,
// other texts shorter first, and an in-place quicksort over all items.
#pragma once

#include <QString>

#include <functional>

namespace ZLBColumnSort {

// True when the key is a number in the locale-independent syntax (optional
// blanks and sign, digits, "." as decimal point, exponent); sets value.
bool ParseNumber(const QString& key, double& value);

// <0, 0 or >0: an empty key first, then numbers by value, then other texts
// by length and, at equal length, byte-wise.
int CompareKeys(const QString& a, const QString& b);

using TCompare = std::function<int(int a, int b)>;   // compares the entries at two positions
using TSwap = std::function<void(int a, int b)>;     // exchanges the entries at two positions

// Puts `count` entries in the order given by `compare` (ascending) or its
// reverse. Entries already in that order are left alone; otherwise the
// quicksort (middle element as pivot, not stable) swaps them in place.
void Sort(int count, bool ascending, const TCompare& compare, const TSwap& swap);

}
