// Vectors whose elements start uninitialised: for buffers that the next step overwrites in
// full, where the zero-fill of std::vector would cost a pass over memory for nothing.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace platform {

template <class T>
struct UninitializedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <class U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

  // resize() value-initialises through construct(p); leave such elements as they are.
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Floats that a transform, a copy or a reader fills in full before they are read.
using FloatBuffer = std::vector<float, UninitializedAllocator<float>>;

}  // namespace platform
