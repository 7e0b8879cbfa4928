// Loading shared libraries at run time: dlopen on POSIX systems,
// LoadLibraryA on Windows.
#include "Platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace RegexPlatform {

#if defined(_WIN32)

ModuleHandle LoadModule(const char* name, std::string& reason)
{
    // No error dialog box for a missing DLL: the caller reports.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE module = ::LoadLibraryA(name);
    const DWORD error = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (module == nullptr) {
        char* text = nullptr;
        const DWORD length = ::FormatMessageA(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
            error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
        reason = length != 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(error);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
            reason.pop_back();
        if (text != nullptr)
            ::LocalFree(text);
        ::SetLastError(error);
    }
    return module;
}

void* ModuleSymbol(ModuleHandle module, const char* symbol)
{
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), symbol));
}

void UnloadModule(ModuleHandle module)
{
    if (module != nullptr)
        ::FreeLibrary(static_cast<HMODULE>(module));
}

#else

ModuleHandle LoadModule(const char* name, std::string& reason)
{
    void* module = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* text = ::dlerror();
        reason = text != nullptr ? text : "unknown error";
    }
    return module;
}

void* ModuleSymbol(ModuleHandle module, const char* symbol) { return ::dlsym(module, symbol); }

void UnloadModule(ModuleHandle module)
{
    if (module != nullptr)
        ::dlclose(module);
}

#endif

}  // namespace RegexPlatform
