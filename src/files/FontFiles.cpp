// The font classes. Their readers and install rule come later; until then a
// font installs as a versioned module and has no name.
#include "files/FileModel.h"

HRESULT CWexKrTrueTypeFontFile::GetFontName(std::wstring&) { return E_NOTIMPL; }
HRESULT CWexKrRasterFontFile::GetFontName(std::wstring&) { return E_NOTIMPL; }
