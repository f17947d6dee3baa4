#pragma once
// A result made on the link thread and waited for on the caller's thread.
// The wait runs in slices of at most WaitSlice, so that a deadline and the
// caller's interrupt check are looked at in time.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>


namespace krm::detail {

using SteadyClock = std::chrono::steady_clock;
inline constexpr std::chrono::milliseconds WaitSlice{20};
// How long a wait looks at the result without sleeping first: most answers
// come within it, and waking a sleeping thread costs more than the answer.
// The wait gives way to other threads at each look: the link thread it waits
// for may have to run on the same core (one core, or the others busy).
inline constexpr std::chrono::microseconds SpinTime{200};

enum class WaitEnd { Ready, Deadline, Interrupted };

template <class T> class Completion {
public:
    // The first value or error set is the result; later ones are ignored.
    // Both return true when they set it.
    bool SetValue(T value)
    {
        return Set([&] { FValue = std::move(value); });
    }
    bool SetError(std::exception_ptr error)
    {
        return Set([&] { FError = std::move(error); });
    }
    bool Ready() const
    {
        std::lock_guard lock(FMutex);
        return FReady;
    }
    // Waits until the result is set, `deadline` passes or `interrupted`
    // (looked at every WaitSlice) returns true.
    WaitEnd Wait(std::optional<SteadyClock::time_point> deadline, const std::function<bool()>& interrupted)
    {
        const auto spinEnd = SteadyClock::now() + SpinTime;
        while (!FReadyFlag.load(std::memory_order_acquire) && SteadyClock::now() < spinEnd)
            std::this_thread::yield();
        std::unique_lock lock(FMutex);
        for (;;) {
            if (FReady)
                return WaitEnd::Ready;
            const auto now = SteadyClock::now();
            if (deadline && now >= *deadline)
                return WaitEnd::Deadline;
            if (interrupted) {
                lock.unlock();
                const bool stop = interrupted();
                lock.lock();
                if (stop && !FReady)
                    return WaitEnd::Interrupted;
                if (FReady)
                    return WaitEnd::Ready;
            }
            auto until = now + WaitSlice;
            if (deadline && *deadline < until)
                until = *deadline;
            FChanged.wait_until(lock, until);
        }
    }
    // The value, or the error rethrown. Only after Ready.
    T Take()
    {
        std::lock_guard lock(FMutex);
        if (FError)
            std::rethrow_exception(FError);
        return *FValue;
    }

private:
    template <class Store> bool Set(Store store)
    {
        std::lock_guard lock(FMutex);
        if (FReady)
            return false;
        store();
        FReady = true;
        FReadyFlag.store(true, std::memory_order_release);
        FChanged.notify_all();
        return true;
    }

    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::optional<T> FValue;
    std::exception_ptr FError;
    bool FReady = false;
    std::atomic_bool FReadyFlag{false};
};

} // namespace krm::detail
