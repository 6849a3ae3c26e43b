// The kernel DLL as a setup program uses it: loaded from ORV_BIN, created
// through its class factory (so the file protection probe is there), with
// install records whose strings and check-info arrays are owned the way a
// caller owns them.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "RestartTest.h"
#include "kernel/TqOrvWexKr_h.h"

namespace orv::test::restart {

class InstallRecord {
public:
    InstallRecord(const std::wstring& source, const std::wstring& target, ULONG mode, ULONG flags = 0,
                  const wchar_t* appPaths = nullptr);
    ~InstallRecord();
    InstallRecord(const InstallRecord&) = delete;
    InstallRecord& operator=(const InstallRecord&) = delete;
    _ORV_FILE_INSTALL_INFO* Get() { return &m_info; }

private:
    Bstr m_source, m_target, m_appPaths;
    _ORV_FILE_INSTALL_INFO m_info{};
};

// The kernel of the built DLL; null when it cannot be loaded or created.
class LoadedKernel {
public:
    LoadedKernel();
    ~LoadedKernel();
    LoadedKernel(const LoadedKernel&) = delete;
    LoadedKernel& operator=(const LoadedKernel&) = delete;
    IOrvInstallerKernel* operator->() const { return m_kernel; }
    IOrvInstallerKernel* Get() const { return m_kernel; }

private:
    HMODULE m_module = nullptr;
    IOrvInstallerKernel* m_kernel = nullptr;
};

}  // namespace orv::test::restart
