// Lock annotations for the compiler's thread-safety analysis (clang's
// -Wthread-safety); empty under every other compiler.
//
// A lock type is a CAPABILITY; a scoped holder is a SCOPED_CAPABILITY whose
// constructor ACQUIREs and whose destructor RELEASEs. A member that a lock
// guards is GUARDED_BY it (PT_GUARDED_BY: the data it points to); a function
// that expects the caller to hold a lock REQUIRES it. NO_THREAD_SAFETY_ANALYSIS
// turns the analysis off for one function: use it on the smallest function,
// with a comment saying why the access is sound.
#pragma once

#if defined(__clang__)
#define MOX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define MOX_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(kind) MOX_THREAD_ANNOTATION(capability(kind))
#define SCOPED_CAPABILITY MOX_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(lock) MOX_THREAD_ANNOTATION(guarded_by(lock))
#define PT_GUARDED_BY(lock) MOX_THREAD_ANNOTATION(pt_guarded_by(lock))
#define ACQUIRED_BEFORE(...) MOX_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) MOX_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) MOX_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) MOX_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) MOX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) MOX_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) MOX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) MOX_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
// Releases the lock in whichever mode it is held.
#define RELEASE_GENERIC(...) MOX_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) MOX_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) MOX_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) MOX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(lock) MOX_THREAD_ANNOTATION(assert_capability(lock))
#define RETURN_CAPABILITY(lock) MOX_THREAD_ANNOTATION(lock_returned(lock))
#define NO_THREAD_SAFETY_ANALYSIS MOX_THREAD_ANNOTATION(no_thread_safety_analysis)
