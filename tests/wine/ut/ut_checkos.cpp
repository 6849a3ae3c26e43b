// Exit code: CWexSystem::CheckOS(100), so that a test can run it under another
// Windows version (Wine's per-program setting) and read the answer.
#include "platform/WexUt.h"

int wmain() { return CWexSystem::CheckOS(100); }
