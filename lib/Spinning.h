#pragma once
// Waiting without sleeping: for a short while a thread that expects
// something within microseconds keeps looking instead of sleeping, since
// waking a sleeping thread costs about as much as the wait. That only pays
// when another core runs whoever it waits for.
namespace krm::detail {

// More than one core may run this process.
bool SpinningPays();

} // namespace krm::detail
