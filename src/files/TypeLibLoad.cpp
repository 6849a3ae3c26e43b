// LoadTypeLibrary: the frame of a type library checked on the mapped file
// before the system's loader is given its path.
#include <cstring>

#include "core/TypeLibImage.h"
#include "files/ModuleImage.h"
#include "platform/KrLog.h"

HRESULT LoadTypeLibrary(LPCWSTR pszPath, ITypeLib** ppLibrary) {
    if (!ppLibrary) return E_POINTER;
    *ppLibrary = nullptr;
    WexKrModuleImage image;
    MapImage(pszPath, &image);  // any kind of file: only the mapping is used
    const auto* bytes = static_cast<const uint8_t*>(image.pView);
    const size_t size = bytes ? image.cbView : 0;
    bool whole = orv::IsWholeTypeLibrary(bytes, size);
    bool present = whole || (size >= 4 && (std::memcmp(bytes, "MSFT", 4) == 0 || std::memcmp(bytes, "SLTG", 4) == 0));
    uint64_t offset = 0, length = 0;
    if (!present && orv::FindTypeLibResource(bytes, size, &offset, &length)) {
        present = true;
        whole = orv::IsWholeTypeLibrary(bytes + offset, static_cast<size_t>(length));
    }
    UnmapImage(&image);
    if (!whole) {
        if (present) orv::LogWarning(L"Type library of '%s' is damaged: not read", pszPath);
        return TYPE_E_CANTLOADLIBRARY;
    }
    return LoadTypeLibEx(pszPath, REGKIND_NONE, ppLibrary);
}
