#pragma once
// Waiting without sleeping: for a short while a thread that expects
// something within microseconds keeps looking instead of sleeping, since
// waking a sleeping thread costs about as much as the wait. That only pays
// when another core runs whoever it waits for.
namespace krm::detail {

// More than one core may run this process.
bool SpinningPays();

// One step of a busy wait: tells the core that the thread spins, so that a
// second hardware thread on it is not slowed down.
inline void SpinPause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    asm volatile("yield");
#endif
}

} // namespace krm::detail
