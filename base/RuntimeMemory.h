// The C++ runtime that each of our libraries carries keeps things for the whole process that a
// library unloaded again and again would lose every time:
//   - a reserve for exceptions thrown when memory runs out, about 19 KiB from the process heap,
//     taken when the library is loaded;
//   - a thread-local storage index, taken by its thread library the first time the library uses
//     a thread, a lock or a thread_local. A process has 1088 of them: a host that loaded and
//     unloaded such a library a few hundred times would find none left, and its next thread start
//     or lock fails or hangs.
// Each library gives both back as the last thing of its unload. Every TlsAlloc of the library goes
// through RuntimeMemory.cpp, which notes the index (see there); ThreadValue.h takes its slots so.
//
// What the runtime's thread library allocates for a lock, a condition or a thread it is given back
// only when those end while the library is loaded, which for a library's static locks and a host's
// threads never happens. Our libraries keep clear of it: locks are base/Mutex.h, per-thread values
// base/ThreadValue.h, and RuntimeMemory.cpp supplies the guards of function-local statics on the
// system's own lock and condition variable.
#pragma once

namespace qorvi {

// Call only while the library is being unloaded (not at process exit): nothing of it may throw,
// take a lock or start a thread afterwards.
void ReleaseRuntimeMemory() noexcept;

}  // namespace qorvi
