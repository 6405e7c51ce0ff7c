// Folders as the platform offers them: POSIX mkdir/stat/opendir/getcwd, or
// the Windows wide-character calls (_wmkdir, GetFileAttributesW,
// FindFirstFileW, _wgetcwd) with the names converted by cPlatformCodePage.h.
#ifndef ORVANE_ENGINE_CPLATFORMFOLDER_H
#define ORVANE_ENGINE_CPLATFORMFOLDER_H

#include <string>
#include <vector>

// Creates one folder (its parent must exist).  A folder that is already
// there is fine; anything else under that name, or a failure, gives false.
bool cMakeFolder(const std::string& folder);

// True when `path` names an existing folder.
bool cIsFolder(const std::string& path);

// Appends the names of the entries of `folder` ("." and ".." included where
// the platform lists them), in the order the file system gives them.  False
// when the folder cannot be read.
bool cListFolder(const std::string& folder, std::vector<std::string>& names);

// The current working folder; "" when it cannot be read.
std::string cCurrentFolder();

#endif
