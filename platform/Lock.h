#pragma once
// Critical sections and a lock-protected list.
#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

// Re-entrant: the thread that holds it may enter again (and must leave as
// often as it entered), so a handler called under the lock may call back
// into code that takes it.
class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for its lifetime.
class TCriticalSectionGuard {
 public:
  [[nodiscard]] explicit TCriticalSectionGuard(TCriticalSection& section) : section_(section) {
    section_.Enter();
  }
  ~TCriticalSectionGuard() { section_.Leave(); }
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

 private:
  TCriticalSection& section_;
};

// A list whose every access goes through its lock. LockList() hands out
// the items together with the held lock; the lock is released when the
// returned object goes out of scope:
//   { auto list = components.LockList(); for (auto* c : *list) ...; }
template <class T>
class TThreadList {
 public:
  class TLocked {
   public:
    std::vector<T>& operator*() const { return items_; }
    std::vector<T>* operator->() const { return &items_; }

   private:
    friend class TThreadList;
    TLocked(TCriticalSection& lock, std::vector<T>& items) : guard_(lock), items_(items) {}
    TCriticalSectionGuard guard_;
    std::vector<T>& items_;
  };

  [[nodiscard]] TLocked LockList() { return TLocked(lock_, items_); }

  void Add(T item) {
    TCriticalSectionGuard guard(lock_);
    items_.push_back(std::move(item));
  }

  // Removes the first item equal to the given one, if any.
  void Remove(const T& item) {
    TCriticalSectionGuard guard(lock_);
    auto found = std::find(items_.begin(), items_.end(), item);
    if (found != items_.end()) items_.erase(found);
  }

 private:
  TCriticalSection lock_;
  std::vector<T> items_;
};
