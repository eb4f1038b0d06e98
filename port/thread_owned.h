// A thread's own object for a thread-local that owns memory (a scratch
// buffer, a cached text): made on the thread's first use and destroyed by the
// thread's exit work rather than by a C++ thread-local destructor, which with
// emulated thread-locals (mingw) may run on storage already freed and would
// then free through stale pointers. The access is one native thread-local
// load and a test. Tag keeps two owners of the same type apart.
#pragma once

#include <memory>

#include "port/thread_exit.h"
#include "port/thread_local.h"

template <typename Tag, typename T>
class ThreadOwned {
 public:
  // The calling thread's object.
  static T& get() {
    T* object = current_;
    return object != nullptr ? *object : make();
  }

 private:
  static T& make() {
    auto object = std::make_unique<T>();
    // Refused (handlers used up): the object outlives its thread, which costs
    // only its memory.
    static_cast<void>(portAtThreadExit(&end, object.get()));
    current_ = object.release();
    return *current_;
  }
  // Clears the pointer only, never reads it: see port/thread_exit.h.
  static void end(void* object) {
    current_ = nullptr;
    delete static_cast<T*>(object);
  }
  static inline PORT_THREAD_LOCAL T* current_ = nullptr;
};
