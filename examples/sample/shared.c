/* OrvSampleShared.dll: the sample's shared library, installed into the
   common files folder where the kernel counts its users (SharedDLLs). */
#include <windows.h>

__declspec(dllexport) int OrvSampleSharedVersion(void) { return ORV_MAJOR; }
