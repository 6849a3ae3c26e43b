// The module image reader: a module file mapped read-only, never loaded, so
// no code of it runs. The table walking is core/PeImage; this side opens,
// maps and releases the file and supplies the text conversion of the system.
//
// Bitness: a reader accepts images of its own module's bitness only (PE32 in
// the x86 build, PE32+ in the x64 build); an image of the other bitness has
// no exports and no imports here.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "core/PeImage.h"

// The optional-header magic this build accepts.
constexpr uint16_t kWexKrOwnPeMagic = sizeof(void*) == 8 ? orv::kPeMagic64 : orv::kPeMagic32;

// What MapImage opened. Handles and view are empty (INVALID_HANDLE_VALUE,
// null) where nothing was obtained.
struct WexKrModuleImage {
    HANDLE hFile = INVALID_HANDLE_VALUE;
    HANDLE hMapping = nullptr;
    const void* pView = nullptr;   // the image's base
    size_t cbView = 0;
    orv::PeImageHeaders headers{};  // peHeaderOffset: the PE header, from the base
};

// Opens pszPath for reading (others may read it too, and rename or replace
// it meanwhile: another installer's rename must not make the read fail, or a
// shared library would go uncounted), maps all of it read-only and checks
// the headers. True for a readable image of the accepted bitness.
// Whatever the result, the caller releases the image with UnmapImage.
bool MapImage(LPCWSTR pszPath, WexKrModuleImage* pImage);
// Unmaps the view, closes the mapping and the file, each only if obtained.
void UnmapImage(WexKrModuleImage* pImage);

// Adds the module's exported names and ordinals (decimal) to exports.
// Returns the set's size; 0, with the set as it was, when the file is not an
// image this reader accepts.
size_t ReadExportTable(LPCWSTR pszPath, orv::ExportSet& exports);

// Appends one record per imported module (name in lower case; functions by
// name, or by ordinal in decimal). Returns the number of imported functions;
// 0 when the file is not an accepted image or imports nothing.
size_t ReadImportTable(LPCWSTR pszPath, std::vector<orv::ImportedModule>& modules);

// ReadImportTable and ReadExportTable of one file mapped once.
void ReadImportAndExportTables(LPCWSTR pszPath, std::vector<orv::ImportedModule>& modules, orv::ExportSet& exports);

// The system's type library loader on a file, only read (REGKIND_NONE), for
// a file whose type library holds together (core/TypeLibImage): a stand-alone
// library, or the TYPELIB resource of a PE module. Anything else gives
// TYPE_E_CANTLOADLIBRARY without the loader; a library that is there but
// cut short or pointing outside itself is logged as damaged.
HRESULT LoadTypeLibrary(LPCWSTR pszPath, ITypeLib** ppLibrary);
