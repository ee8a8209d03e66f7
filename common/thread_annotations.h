// Lock facts written where a tool can check them: which lock guards a field, which lock a
// function needs or takes. Under clang they become its thread-safety attributes (checked with
// -Wthread-safety); under other compilers they expand to nothing and stay as documentation.
#pragma once

#if defined(__clang__)
#define FP_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define FP_THREAD_ANNOTATION(x)
#endif

// A type that is a lock.
#define CAPABILITY(x) FP_THREAD_ANNOTATION(capability(x))
// A guard type that holds a lock for its lifetime.
#define SCOPED_CAPABILITY FP_THREAD_ANNOTATION(scoped_lockable)
// The field is read and written only with the lock held.
#define GUARDED_BY(x) FP_THREAD_ANNOTATION(guarded_by(x))
// The lock is taken before (never after) the given ones.
#define ACQUIRED_BEFORE(...) FP_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
// The caller holds the lock.
#define REQUIRES(...) FP_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The caller must not hold the lock (the function takes it).
#define EXCLUDES(...) FP_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) FP_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) FP_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) FP_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// Tells the analysis the lock is held here (checked by the program's own logic).
#define ASSERT_CAPABILITY(x) FP_THREAD_ANNOTATION(assert_capability(x))
// For the few functions whose locking the analysis cannot follow (a guard returned by value).
#define NO_THREAD_SAFETY_ANALYSIS FP_THREAD_ANNOTATION(no_thread_safety_analysis)
