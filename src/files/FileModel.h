// The file model: one short-lived object per file the kernel works on, of the
// most specific class the factory finds for it. Virtual operations are
// declared in slot order; a class only overrides what its own rule changes.
//
//   CWexKrFile                      "Data file"
//   +- CWexKrRegFile                "Registry file"
//   +- CWexKrExecutableFile         "Executable module file" (abstract)
//      +- CWexKrExeFile             "Executable file"
//      |  +- CWexKrLocalServerFile  "Local COM server file"    (+ CWexKrCOMServerFile)
//      +- CWexKrDllFile             "Dynamic link library file"
//      |  +- CWexKrInProcServerFile "InProc COM server file"   (+ CWexKrCOMServerFile)
//      +- CWexKrTypeLibFile         "Type library file"        (+ CWexKrCOMServerFile)
//      +- CWexKrFontFile            "Font file" (abstract)
//         +- CWexKrTrueTypeFontFile "True type font file"
//         +- CWexKrRasterFontFile   "Raster font file"
//   CWexKrLinkFile                  "Link file"
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "core/DependencyWalk.h"
#include "core/PeImage.h"
#include "platform/FileFacts.h"
#include "platform/WexFileVersion.h"

// Bit 0 of the flags word of Install (FORCEFLAG INSTALL_FLAG_FORCE).
constexpr DWORD kWexKrInstallForce = 1;
// INSTALLMODES INSTALL_MODE_PRIMARY.
constexpr DWORD kWexKrInstallModePrimary = 1;
// The target (or the file to remove) is in use: FACILITY_ITF, code 2000.
constexpr HRESULT kWexKrHrFileInUse = static_cast<HRESULT>(0x800407D0L);
// A COM server's file could not be installed (FACILITY_ITF, code 2001).
constexpr HRESULT kWexKrHrServerNotInstalled = static_cast<HRESULT>(0x800407D1L);
// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE): a path that does not fit MAX_PATH.
constexpr HRESULT kWexKrHrPathTooLong = static_cast<HRESULT>(0x800700CEL);
// A path that names no regular disk file. A folder or a drive root:
// HRESULT_FROM_WIN32(ERROR_DIRECTORY_NOT_SUPPORTED). A device (CON, NUL,
// COM1, ...): HRESULT_FROM_WIN32(ERROR_INVALID_NAME).
constexpr DWORD kWexKrErrorDirectoryNotSupported = 336;  // ERROR_DIRECTORY_NOT_SUPPORTED
constexpr HRESULT kWexKrHrNotAFileFolder = static_cast<HRESULT>(0x80070150L);
constexpr HRESULT kWexKrHrNotAFileDevice = static_cast<HRESULT>(0x8007007BL);

class CWexKrFile {
public:
    // The most specific class for the file at pszPath, or null when memory
    // runs out. The caller ends the object's life with Destroy(). With
    // keepOpen, a data file keeps the handle its kind was read through, for
    // the data-file rule to copy it from, until the object ends.
    static CWexKrFile* CreateInstance(LPCWSTR pszPath, bool keepOpen = false);

    // Stores the long-name form of pszPath; a path that does not fit MAX_PATH
    // leaves the object's path empty.
    explicit CWexKrFile(LPCWSTR pszPath);
    CWexKrFile(const CWexKrFile&) = delete;
    CWexKrFile& operator=(const CWexKrFile&) = delete;

    virtual ~CWexKrFile();                                   // slot 0
    virtual void Destroy();                                  // slot 1
    virtual DWORD SetInstallMode(DWORD dwInstallMode);       // slot 2
    virtual DWORD GetInstallMode();                          // slot 3
    // The data-file rule: the object's file (the source) onto pszTarget.
    virtual HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags);  // slot 4
    // The data-file rule: removes the object's file unless it is pszSource.
    virtual HRESULT UnInstall(LPCWSTR pszSource);            // slot 5
    virtual HRESULT PreparePostRebootCopy(LPCWSTR pszTarget);  // slot 6
    virtual HRESULT PreparePostRebootDelete();               // slot 7
    virtual LPCWSTR GetTypeDescription();                    // slot 8

    LPCWSTR GetPath() const { return m_szPath; }
    // The own file's last write time (CWexFile::GetTimeStamp, selector 2),
    // read through the handle the factory read the file's kind with, or now
    // for an object the factory did not make.
    HRESULT GetLastWriteTime(FILETIME* pft) const;
    // What that handle said of the own file (nothing known for an object the
    // factory did not make, or a file it could not open).
    const orv::FileFacts& GetFacts() const { return m_facts; }

protected:
    WCHAR m_szPath[MAX_PATH];
    DWORD m_dwInstallMode = 0;

private:
    HRESULT InstallDataFile(LPCWSTR pszTarget, DWORD dwFlags, bool likelyNew);

    orv::FileFacts m_facts;  // set by the factory
    HANDLE m_hOpen = INVALID_HANDLE_VALUE;  // kept by the factory (keepOpen), read only
};

class CWexKrRegFile : public CWexKrFile {
public:
    explicit CWexKrRegFile(LPCWSTR pszPath) : CWexKrFile(pszPath) {}
    // Applies or reverses the own file's registry content, with the argument
    // as the directory of "%orvtargetdir%" (src/registry/RegFileObject.cpp).
    HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags) override;
    HRESULT UnInstall(LPCWSTR pszDirectory) override;
    LPCWSTR GetTypeDescription() override;
};

class CWexKrExecutableFile : public CWexKrFile {
public:
    explicit CWexKrExecutableFile(LPCWSTR pszPath) : CWexKrFile(pszPath) {}
    ~CWexKrExecutableFile() override = 0;

    // The version rule; falls back to the data-file rule when a version is missing.
    HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags) override;
    LPCWSTR GetTypeDescription() override;

    // A string of the own file's version resource; 0 when found. pszBuffer
    // null and cchBuffer 0 only test for the value.
    virtual HRESULT GetVersionInfo(LPCWSTR pszName, LPWSTR pszBuffer, DWORD cchBuffer);  // slot 9
    virtual HRESULT GetVersion(CWexFileVersion& version);   // slot 10
    // In the common files folder or the system folder itself, or a COM server.
    virtual BOOL IsSharedFile();                            // slot 11
    virtual BOOL IsCOMServer();                             // slot 12

    // The dependency check of the module at pszPath (any module, not only
    // this object's): the imported modules the system's search does not find
    // and the imported functions their modules do not export, over every
    // module reached. True when nothing is missing. Throws std::bad_alloc.
    bool CheckModuleDependencies(LPCWSTR pszPath, orv::UnresolvedModules& modules, orv::UnresolvedExports& exports);

protected:
    BYTE m_bExportListLoaded = 0;
    orv::ExportSet m_exports;
};

class CWexKrExeFile : public CWexKrExecutableFile {
public:
    explicit CWexKrExeFile(LPCWSTR pszPath) : CWexKrExecutableFile(pszPath) {}
    // The version rule, then the App Paths entry in install modes 1, 2 and 4.
    HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags) override;
    // The data-file removal, then the App Paths entry.
    HRESULT UnInstall(LPCWSTR pszSource) override;
    LPCWSTR GetTypeDescription() override;
    // The OLE self-registration test on the own file.
    BOOL IsCOMServer() override;

    // The caller's App Paths text; null leaves the stored text as it is.
    void SetAppPaths(LPCWSTR pszAppPaths);
    const std::wstring& GetAppPaths() const { return m_strAppPaths; }

    // True when the program at pszPath says "OLESelfRegister" in its version
    // resource or carries a type library. Nothing is registered or run.
    static bool HasOleSelfRegistration(LPCWSTR pszPath);

protected:
    std::wstring m_strAppPaths;
};

class CWexKrDllFile : public CWexKrExecutableFile {
public:
    explicit CWexKrDllFile(LPCWSTR pszPath) : CWexKrExecutableFile(pszPath) {}
    // The version rule, then one more SharedDLLs use of a shared library.
    HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags) override;
    // One SharedDLLs use less; the file goes with its last user.
    HRESULT UnInstall(LPCWSTR pszSource) override;
    LPCWSTR GetTypeDescription() override;
    // True when the export set (read on the first call and kept) holds "DllRegisterServer".
    BOOL IsCOMServer() override;
    virtual HRESULT RunDllInstallCommand(LPCWSTR pszPath, BOOL bInstall);  // slot 13

    // The export test of the factory: a fresh export set of the module at pszPath.
    static bool ExportsDllRegisterServer(LPCWSTR pszPath);

    // Set by InstallFile in primary install mode: count this install in SharedDLLs.
    BOOL m_bSharedDllCounter = FALSE;
    // The caller's bstrDllInstallCmd, borrowed from its record (not owned, never freed).
    BSTR m_lpDllInstallCmd = nullptr;
};

// Mix-in of the COM server classes; the path is reached through the derived object.
class CWexKrCOMServerFile {
public:
    virtual ~CWexKrCOMServerFile() = default;
    // 0 when a registration of this server was found (strPath then holds the
    // registered path), 1 when none was found.
    virtual HRESULT GetRegisteredServerPath(std::wstring& strPath) = 0;      // slot 0
    virtual HRESULT SelfRegister(LPCWSTR pszServer, BOOL bRegister) = 0;     // slot 1
    virtual HRESULT RegisterOutOfProcess(LPCWSTR pszServer, BOOL bRegister);  // slot 2
    virtual HRESULT RegisterWithRegsvr32(LPCWSTR pszServer, BOOL bRegister);  // slot 3
    virtual HRESULT InstallOfflineRegistration(LPCWSTR pszServer);           // slot 4
    virtual HRESULT UnInstallOfflineRegistration(LPCWSTR pszServer);         // slot 5
    virtual HRESULT PostRebootRegister(LPCWSTR pszServer);                   // slot 6
};

class CWexKrLocalServerFile : public CWexKrExeFile, public CWexKrCOMServerFile {
public:
    explicit CWexKrLocalServerFile(LPCWSTR pszPath) : CWexKrExeFile(pszPath) {}
    // The program rule, then the registration ladder (src/com/LocalServerFile.cpp).
    HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags) override;
    // Unregistration unless registered elsewhere, then the program removal.
    HRESULT UnInstall(LPCWSTR pszSource) override;
    LPCWSTR GetTypeDescription() override;
    HRESULT GetRegisteredServerPath(std::wstring& strPath) override;
    HRESULT SelfRegister(LPCWSTR pszServer, BOOL bRegister) override;
};

class CWexKrInProcServerFile : public CWexKrDllFile, public CWexKrCOMServerFile {
public:
    explicit CWexKrInProcServerFile(LPCWSTR pszPath) : CWexKrDllFile(pszPath) {}
    // The library rule, then the registration ladder (src/com/InProcServerFile.cpp).
    HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags) override;
    // Unregistration unless registered elsewhere or still used by others, then the library removal.
    HRESULT UnInstall(LPCWSTR pszSource) override;
    LPCWSTR GetTypeDescription() override;
    HRESULT GetRegisteredServerPath(std::wstring& strPath) override;
    HRESULT SelfRegister(LPCWSTR pszServer, BOOL bRegister) override;
};

class CWexKrTypeLibFile : public CWexKrExecutableFile, public CWexKrCOMServerFile {
public:
    explicit CWexKrTypeLibFile(LPCWSTR pszPath) : CWexKrExecutableFile(pszPath) {}
    // Replaced only by a higher library version, then registered (src/com/TypeLibFile.cpp).
    HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags) override;
    // Unregistered, then removed by the data-file rule.
    HRESULT UnInstall(LPCWSTR pszSource) override;
    LPCWSTR GetTypeDescription() override;
    // The library's major and minor version, then 0.0.
    HRESULT GetVersion(CWexFileVersion& version) override;
    HRESULT GetRegisteredServerPath(std::wstring& strPath) override;
    HRESULT SelfRegister(LPCWSTR pszServer, BOOL bRegister) override;
};

class CWexKrFontFile : public CWexKrExecutableFile {
public:
    explicit CWexKrFontFile(LPCWSTR pszPath) : CWexKrExecutableFile(pszPath) {}
    // The font rule (src/fonts/FontInstall.cpp): the fonts key entry, the
    // file in place, the font resource added and announced, the load test.
    HRESULT Install(LPCWSTR pszTarget, DWORD dwFlags) override;
    // The font resource removed, the file by the data-file rule, the entry
    // that points at the file.
    HRESULT UnInstall(LPCWSTR pszSource) override;
    LPCWSTR GetTypeDescription() override;
    virtual HRESULT GetFontName(std::wstring& strName) = 0;  // slot 13

protected:
    // The TrueType reader's caches.
    std::wstring m_strFontName;
    CWexFileVersion m_fontVersion;
};

class CWexKrTrueTypeFontFile : public CWexKrFontFile {
public:
    explicit CWexKrTrueTypeFontFile(LPCWSTR pszPath) : CWexKrFontFile(pszPath) {}
    LPCWSTR GetTypeDescription() override;
    // The cached name; the file is read while the cache is empty.
    HRESULT GetFontName(std::wstring& strName) override;
    // The cached version; the file is read while the cache is not valid.
    HRESULT GetVersion(CWexFileVersion& version) override;
    // The naming table's full name into strName (left as it is when none is
    // found) and its version into version (not valid when none). S_OK when a
    // name was found, else the file's last error as an HRESULT (S_OK for none).
    HRESULT ReadNameTable(std::wstring& strName, CWexFileVersion& version);
};

class CWexKrRasterFontFile : public CWexKrFontFile {
public:
    explicit CWexKrRasterFontFile(LPCWSTR pszPath) : CWexKrFontFile(pszPath) {}
    LPCWSTR GetTypeDescription() override;
    // The module description, read from the file on every call.
    HRESULT GetFontName(std::wstring& strName) override;
};

// The shortcut operations (src/shortcuts/); the class holds no data. The
// calling thread must have COM initialised.
class CWexKrLinkFile {
public:
    virtual ~CWexKrLinkFile() = default;
    virtual LPCWSTR GetTypeDescription();

    // Writes a shortcut for the command line under a name of its own in the
    // link folder below the shell folder. S_FALSE when an equal one is there.
    HRESULT InstallLink(LPCWSTR pszCmdLine, LPCWSTR pszShellFolder, LPCWSTR pszDescription, BOOL bAllUsers);
    // Removes every shortcut of the link folder with the command line's target
    // and arguments, then the folders the installs created and left empty.
    HRESULT UnInstallLink(LPCWSTR pszCmdLine, LPCWSTR pszShellFolder, BOOL bAllUsers);
};
