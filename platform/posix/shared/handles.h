// The live handles of one kind (search, key, process...). Every handle handed
// to a caller is registered here, so a handle that was closed twice, belongs
// to another kind or was never issued is recognised and refused instead of
// being dereferenced. Internal to platform/posix.
//
// A table is defined TROVEX_MODULE_STATE: the plug-in's start-up code opens
// registry keys, and a table that its constructor has not reached yet divides
// by a bucket count of zero.
#ifndef TROVEX_PLATFORM_POSIX_HANDLES_H
#define TROVEX_PLATFORM_POSIX_HANDLES_H

#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/system.h"

namespace trovex {

template <typename T>
class HandleTable {
 public:
  // Takes ownership of `object` and returns its handle.
  void* Add(std::unique_ptr<T> object) {
    std::shared_ptr<T> shared(std::move(object));
    void* handle = shared.get();
    std::lock_guard<std::mutex> hold(mutex_);
    live_.emplace(handle, std::move(shared));
    return handle;
  }

  // The object behind `handle`, or null when it is not a live handle of
  // this table. The object stays alive while the caller holds it.
  std::shared_ptr<T> Find(const void* handle) const {
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = live_.find(const_cast<void*>(handle));
    return found == live_.end() ? nullptr : found->second;
  }

  // Forgets `handle` and releases its object (once the last user lets go);
  // false when it was not a live handle of this table.
  bool Remove(const void* handle) {
    std::shared_ptr<T> doomed;
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = live_.find(const_cast<void*>(handle));
    if (found == live_.end()) return false;
    doomed = std::move(found->second);
    live_.erase(found);
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<void*, std::shared_ptr<T>> live_;
};

}  // namespace trovex

#endif
