// The folder of the shared object a native module was loaded from. It is
// found from an address inside that object, so it is known in PyInit_...,
// before the import machinery sets the module's __file__; the data that ships
// beside the module file (OpenSSL's provider modules in a wheel) is found
// from it.
#pragma once

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace orvane {

// `address` must lie in the module's own object (the address of an object
// with internal linkage, so no other module can interpose it). Empty when the
// system cannot say.
inline std::string module_file_folder(const void* address) {
#if defined(_WIN32)
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &self))
        return std::string();
    char path[4096];
    const DWORD n = GetModuleFileNameA(self, path, sizeof path);
    if (n == 0 || n >= sizeof path) return std::string();
    const std::string file(path, n);
    const size_t slash = file.find_last_of("\\/");
#else
    Dl_info info;
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return std::string();
    const std::string file(info.dli_fname);
    const size_t slash = file.rfind('/');
#endif
    if (slash == std::string::npos) return std::string(".");
    return slash == 0 ? std::string("/") : file.substr(0, slash);
}

}  // namespace orvane
