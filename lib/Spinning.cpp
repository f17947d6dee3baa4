#include "Spinning.h"

#include <sched.h>

namespace krm::detail {

bool SpinningPays()
{
    static const bool pays = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
    }();
    return pays;
}

} // namespace krm::detail
