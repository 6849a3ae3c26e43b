// CWexRegKey: a full registry key path split into its top key and the rest.
#include "platform/WexUt.h"

#include "core/RegRoot.h"

HKEY CWexRegKey::splitKeyString(LPCWSTR pszFullKey, LPCWSTR* ppszSubKey) {
    if (ppszSubKey) *ppszSubKey = nullptr;
    size_t rest = 0;
    HKEY root = nullptr;
    switch (orv::SplitRegRoot(pszFullKey, &rest)) {
    case orv::RegRoot::kClassesRoot: root = HKEY_CLASSES_ROOT; break;
    case orv::RegRoot::kCurrentUser: root = HKEY_CURRENT_USER; break;
    case orv::RegRoot::kLocalMachine: root = HKEY_LOCAL_MACHINE; break;
    case orv::RegRoot::kUsers: root = HKEY_USERS; break;
    case orv::RegRoot::kCurrentConfig: root = HKEY_CURRENT_CONFIG; break;
    case orv::RegRoot::kPerformanceData: root = HKEY_PERFORMANCE_DATA; break;
    case orv::RegRoot::kDynData: root = HKEY_DYN_DATA; break;
    case orv::RegRoot::kNone: return nullptr;
    }
    if (ppszSubKey) *ppszSubKey = pszFullKey + rest;
    return root;
}
