// Lock annotations that Clang's -Wthread-safety checks at compile time:
// which lock guards a member, which lock a function needs held or must not
// hold, and what a lock type's methods acquire and release. Empty for other
// compilers, where they only document the design.
#pragma once

#if defined(__clang__)
#define STREVON_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define STREVON_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) STREVON_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY STREVON_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(lock) STREVON_THREAD_ANNOTATION(guarded_by(lock))
#define PT_GUARDED_BY(lock) STREVON_THREAD_ANNOTATION(pt_guarded_by(lock))
#define REQUIRES(...) STREVON_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) STREVON_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) STREVON_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) STREVON_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) STREVON_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(lock) STREVON_THREAD_ANNOTATION(lock_returned(lock))
#define NO_THREAD_SAFETY_ANALYSIS STREVON_THREAD_ANNOTATION(no_thread_safety_analysis)
