// Functions of system libraries bound at their first use instead of imported. An import loads
// the library, and every library it pulls in, together with ours and under the loader lock, each
// time a viewer loads us; the settings dialog's libraries (common controls, common dialogs, the
// colour system) are needed by nothing else. The library comes from the system folder only and
// stays loaded for the rest of the process, as an import would have kept it.
#pragma once

#include <windows.h>

namespace qorvi {

// `name` of `library` as a pointer of type Function; null when either is missing.
template <class Function>
Function SystemFunction(const wchar_t* library, const char* name) noexcept {
    HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace qorvi
