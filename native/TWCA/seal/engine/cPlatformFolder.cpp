#include "cPlatformFolder.h"

#include <cerrno>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>

#include <cstdlib>

#include "cPlatformCodePage.h"
#else
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#ifdef _WIN32

bool cIsFolder(const std::string& path) {
    const std::wstring wide = cWidePath(path.c_str());
    if (wide.empty()) return false;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool cMakeFolder(const std::string& folder) {
    const std::wstring wide = cWidePath(folder.c_str());
    if (wide.empty()) return false;
    if (::_wmkdir(wide.c_str()) == 0) return true;
    return errno == EEXIST && cIsFolder(folder);
}

bool cListFolder(const std::string& folder, std::vector<std::string>& names) {
    // The pattern names every entry; "\" is added unless the folder ends in a
    // separator already.
    std::string pattern = folder;
    if (pattern.empty() || (pattern.back() != '/' && pattern.back() != '\\')) pattern += '\\';
    pattern += '*';
    const std::wstring wide = cWidePath(pattern.c_str());
    if (wide.empty()) return false;
    WIN32_FIND_DATAW entry;
    const HANDLE search = ::FindFirstFileExW(wide.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    try {
        do {
            names.push_back(cNarrowPath(entry.cFileName));
        } while (::FindNextFileW(search, &entry));
        ok = ::GetLastError() == ERROR_NO_MORE_FILES;
    } catch (...) {
        ok = false;
    }
    ::FindClose(search);
    return ok;
}

std::string cCurrentFolder() {
    wchar_t* wide = ::_wgetcwd(nullptr, 0);
    if (wide == nullptr) return std::string();
    std::string narrow;
    try {
        narrow = cNarrowPath(wide);
    } catch (...) {
    }
    std::free(wide);
    return narrow;
}

#else  // POSIX

bool cIsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool cMakeFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0777) == 0) return true;
    return errno == EEXIST && cIsFolder(folder);
}

bool cListFolder(const std::string& folder, std::vector<std::string>& names) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false;
    bool ok = true;
    try {
        while (const dirent* e = ::readdir(dir)) names.push_back(e->d_name);
    } catch (...) {
        ok = false;
    }
    ::closedir(dir);
    return ok;
}

std::string cCurrentFolder() {
    char cwd[1024];
    return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

#endif
