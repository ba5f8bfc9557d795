// A value one side publishes whole and the other reads whole, without a lock
// on either side: the control loop hands out its latest state this way, and
// takes the program's set-point so.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <type_traits>

namespace tarsel::loop {

// The latest of a series of values of a trivially copyable T. Publish (from
// one thread at a time) writes the value into the next of kSlots slots and
// then makes it the latest; Latest (from any number of threads) copies the
// latest slot. A reader never waits for a write in progress, since the slot
// it reads was complete when it was published; it copies again only when
// the writer has come round to the same slot meanwhile (kSlots - 1 further
// publications during one copy), which each slot's sequence number shows.
// Every shared word is accessed atomically (std::atomic_ref), so there is no
// data race even then. Neither side allocates or makes a system call.
template <typename T>
class Published {
  static_assert(std::is_trivially_copyable_v<T>, "copied word by word");
  static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free, "lock-free words");

 public:
  Published() {
    const T initial{};
    Publish(initial);
  }
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  // Makes value the latest. Callers take turns (see Writers below).
  void Publish(const T& value) noexcept {
    Words words{};
    std::memcpy(words.data(), &value, sizeof(T));
    const std::uint64_t next = latest_.load(std::memory_order_relaxed) + 1;
    Slot& slot = slots_[next % kSlots];
    const std::uint64_t seq = slot.seq.load(std::memory_order_relaxed);
    slot.seq.store(seq + 1, std::memory_order_relaxed);  // odd: being written
    std::atomic_thread_fence(std::memory_order_release);
    for (std::size_t i = 0; i < kWords; ++i) {
      std::atomic_ref<std::uint64_t>(slot.words[i]).store(words[i], std::memory_order_relaxed);
    }
    slot.seq.store(seq + 2, std::memory_order_release);
    latest_.store(next, std::memory_order_release);
  }

  // A copy of the latest value.
  T Latest() const noexcept {
    Words words{};
    for (;;) {
      const Slot& slot = slots_[latest_.load(std::memory_order_acquire) % kSlots];
      const std::uint64_t before = slot.seq.load(std::memory_order_acquire);
      if ((before & 1) != 0) continue;  // lapped by the writer: take the newer latest
      for (std::size_t i = 0; i < kWords; ++i) {
        words[i] = std::atomic_ref<std::uint64_t>(slot.words[i]).load(std::memory_order_relaxed);
      }
      std::atomic_thread_fence(std::memory_order_acquire);
      if (slot.seq.load(std::memory_order_relaxed) == before) break;
    }
    T value;
    std::memcpy(static_cast<void*>(&value), words.data(), sizeof(T));
    return value;
  }

 private:
  static constexpr std::size_t kSlots = 4;
  static constexpr std::size_t kWords = (sizeof(T) + 7) / 8;
  using Words = std::array<std::uint64_t, kWords>;
  struct Slot {
    std::atomic<std::uint64_t> seq{0};
    // Written and read only through std::atomic_ref; mutable so that a
    // const reader can form the reference.
    alignas(std::atomic_ref<std::uint64_t>::required_alignment) mutable Words words{};
  };
  std::array<Slot, kSlots> slots_;
  std::atomic<std::uint64_t> latest_{0};
};

// Turns for several threads that publish into one Published: a word taken
// with one atomic exchange. A thread that finds it taken spins briefly, then
// yields; from one thread alone it is never contended.
class Writers {
 public:
  void lock() noexcept {
    for (int spins = 0; taken_.exchange(true, std::memory_order_acquire); ++spins) {
      if (spins >= 64) std::this_thread::yield();
    }
  }
  void unlock() noexcept { taken_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> taken_{false};
};

}  // namespace tarsel::loop
