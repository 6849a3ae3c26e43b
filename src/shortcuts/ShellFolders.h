// The shell folders shortcuts go to, and what the link methods share: the
// parts of a call checked against their buffers, the target's search, the
// link folder below a shell folder.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "core/LinkCommandLine.h"
#include "core/LinkLocation.h"
#include "platform/PathText.h"
#include "platform/Raii.h"

namespace orv::shortcuts {

// An item identifier list from the shell's allocator.
using UniqueIdList = UniqueResource<void*, CoTaskMemTraits>;
inline LPITEMIDLIST* PutIdList(UniqueIdList& list) { return reinterpret_cast<LPITEMIDLIST*>(list.Put()); }
inline LPITEMIDLIST IdList(const UniqueIdList& list) { return static_cast<LPITEMIDLIST>(list.Get()); }

// Class context of the shell link object: in-process server and handler,
// local and remote server.
constexpr DWORD kLinkClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// Arguments are read back from shortcuts into buffers of this size (the
// shell's limit for them), so longer ones are refused.
constexpr DWORD kArgumentsBuffer = INFOTIPSIZE;

// The two arguments of a link call, split. A target or icon file that does
// not fit MAX_PATH, or arguments that do not fit kArgumentsBuffer, are
// refused with 0x800700CE and an error line before anything is touched; a
// shell folder argument whose sub-folders or name would leave the shell
// folder ("..", a drive, a stream, a UNC path, a device) with E_INVALIDARG.
HRESULT SplitLinkCall(LPCWSTR pszCmdLine, LPCWSTR pszShellFolder, LinkCommandLine& command, LinkLocation& location);

// The file system path of a shell folder. The failing result of
// SHGetSpecialFolderLocation, or E_FAIL when the folder has no path.
HRESULT GetShellFolderPath(int folderId, WCHAR (&path)[MAX_PATH]);

// True when path designates the shell folder folderId (compared as the
// shell's item identifier lists). Any failure on the way gives false.
BOOL IsSpecialFolder(LPCWSTR pszPath, int folderId);

// The shell folder path joined with the sub-folder path (PathAppendW).
// False when the result does not fit MAX_PATH (nothing is written then).
bool JoinLinkFolder(LPCWSTR shellFolder, const std::wstring& subFolders, WCHAR (&out)[MAX_PATH]);

using orv::JoinPath;

// A relative target found on the default search path. 0 with the full path,
// or the search's error; a full path that does not fit MAX_PATH is
// ERROR_FILENAME_EXCED_RANGE.
DWORD SearchTarget(LPCWSTR target, WCHAR (&found)[MAX_PATH]);

}  // namespace orv::shortcuts
