// The names of the folder this process installs into, read once.
//
// Asking whether a target that is not there exists makes some file systems
// (and Wine on any Unix one) search the whole folder for the name in another
// letter case; installing a thousand files into one folder then searches it
// a thousand times. The index answers instead, but only ever as a hint: a
// target it does not know is installed by a rename that never replaces, so a
// file that another process gave that name meanwhile stops the rename, and
// the install then looks again. A name it knows is always looked at for real.
#pragma once
#include <windows.h>

namespace orv::files {

// True when the index of target's folder is held and lacks target's name:
// the target is most likely new. False whenever that is not known (no index
// of the folder yet, a relative or extended-length path, a name it holds).
// The second question about a folder reads its names.
bool TargetLikelyNew(LPCWSTR target);
// The kernel gave target its name, or took it away.
void NoteNameAdded(LPCWSTR target);
void NoteNameRemoved(LPCWSTR target);
// The hint was wrong (target had a name after all): the index of its folder
// is dropped.
void ForgetFolderIndex(LPCWSTR target);

}  // namespace orv::files
