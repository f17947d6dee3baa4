#include "ZLBColumnSort.h"

#include <QByteArray>
#include <QRegularExpression>

namespace ZLBColumnSort {

bool ParseNumber(const QString& key, double& value)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$)"));
    if (!number.match(key).hasMatch())
        return false;
    bool ok = false;
    value = key.trimmed().toDouble(&ok);
    return ok;
}

int CompareKeys(const QString& a, const QString& b)
{
    double x = 0;
    double y = 0;
    const bool aNumber = ParseNumber(a, x);
    const bool bNumber = ParseNumber(b, y);
    if (aNumber && bNumber)
        return x < y ? -1 : (x > y ? 1 : 0);
    // Rank: empty 0, number 1, other text 2.
    const int aRank = a.isEmpty() ? 0 : (aNumber ? 1 : 2);
    const int bRank = b.isEmpty() ? 0 : (bNumber ? 1 : 2);
    if (aRank != bRank)
        return aRank - bRank;
    if (aRank == 0)
        return 0;
    if (a.length() != b.length())
        return a.length() < b.length() ? -1 : 1;
    const int bytes = a.toUtf8().compare(b.toUtf8(), Qt::CaseSensitive);
    return bytes < 0 ? -1 : (bytes > 0 ? 1 : 0);
}

namespace {

void QuickSort(int low, int high, const TCompare& compare, const TSwap& swap)
{
    int i = low;
    do {
        i = low;
        int j = high;
        int pivot = (low + high) / 2;
        do {
            while (compare(i, pivot) < 0)
                ++i;
            while (compare(j, pivot) > 0)
                --j;
            if (i <= j) {
                if (i != j)
                    swap(i, j);
                // The pivot entry moves with the swap.
                if (pivot == i)
                    pivot = j;
                else if (pivot == j)
                    pivot = i;
                ++i;
                --j;
            }
        } while (i <= j);
        if (low < j)
            QuickSort(low, j, compare, swap);
        low = i;
    } while (i < high);
}

}

void Sort(int count, bool ascending, const TCompare& compare, const TSwap& swap)
{
    const TCompare ordered = [&](int a, int b) { return ascending ? compare(a, b) : -compare(a, b); };
    bool inOrder = true;
    for (int i = 0; i + 1 < count && inOrder; ++i)
        inOrder = ordered(i, i + 1) <= 0;
    if (inOrder)
        return;
    QuickSort(0, count - 1, ordered, swap);
}

}
