// The C++ runtime that each of our libraries carries links in a reserve for exceptions thrown
// when memory runs out: about 19 KiB from the process heap, taken when the library is loaded and
// never given back. A host that loads and unloads a plug-in again and again would lose it every
// time, so each library gives it back as the last thing of its unload.
#pragma once

namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++'s own release of what it keeps for the process
}

namespace qorvi {

// Call only while the library is being unloaded (not at process exit): nothing of it may throw
// afterwards.
inline void ReleaseRuntimeMemory() noexcept { __gnu_cxx::__freeres(); }

}  // namespace qorvi
