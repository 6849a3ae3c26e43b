// Fuzz target of the text work behind restart scheduling and shared-library
// counting: the [rename] section of wininit.ini, the registration program's
// output and SharedDLLs counts as other installers store them. The first
// byte picks the reader; any input must be read without a fault, and what is
// read must keep the readers' promises (a broken promise aborts).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/RenameSection.h"
#include "core/SharedDllCount.h"
#include "core/ToolOutput.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The [rename] section: characters of two bytes each, as the profile API
// hands them back; then a deletion and a copy are scheduled on it.
void FuzzSection(const uint8_t* data, size_t size) {
    std::wstring buffer;
    for (size_t i = 0; i + 1 < size; i += 2) buffer.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    std::vector<std::wstring> lines = orv::SplitProfileSection(buffer.data(), buffer.size());
    for (const std::wstring& line : lines) Check(!line.empty() && line.find(L'\0') == std::wstring::npos);
    const std::vector<std::wstring> before = lines;

    const std::wstring target = L"C:\\PROGRA~1\\APP\\LONGNA~1.DLL";
    const std::wstring line = orv::AddRenameDelete(lines, L"C:\\GONE.DLL");
    Check(lines.size() == before.size() + 1 && lines.back() == line);
    Check(std::equal(before.begin(), before.end(), lines.begin()));
    orv::AddRenameCopy(lines, target, L"C:\\PROGRA~1\\APP\\LONGNA~2.DLL");
    Check(lines.size() >= 3);
    Check(lines[lines.size() - 2] == L"NUL=" + target);
    // Only lines about the target went; everything else kept its order.
    size_t kept = 0;
    for (const std::wstring& old : before)
        if (kept < lines.size() - 2 && lines[kept] == old) ++kept;
    Check(kept + 3 == lines.size());

    const std::wstring joined = orv::JoinProfileSection(lines);
    Check(!joined.empty() && joined.back() == L'\0');
    Check(orv::SplitProfileSection(joined.data(), joined.size() - 1) == lines);

    std::wstring temporary;
    const std::wstring_view path(buffer.data(), std::min<size_t>(buffer.size(), 300));
    if (orv::MakeTemporaryCopyPath(path, temporary)) {
        Check(temporary.size() <= orv::kMaxPathChars && temporary.find(L"_orvtmp") != std::wstring::npos);
        Check(temporary.size() == path.size() + 7);
    } else {
        Check(temporary.empty());
    }
}

// The registration program's output: pieces of the sizes the input gives.
void FuzzOutput(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const size_t capacity = data[0] % 64;
    orv::ToolOutput output(capacity);
    size_t at = 1;
    uint64_t bytes = 0;
    while (at < size) {
        const size_t piece = std::min<size_t>(data[at] % 17, size - at - 1);
        output.Append(data + at + 1, piece);
        bytes += piece;
        at += 1 + piece;
    }
    Check(output.Text().size() <= capacity);
    Check(output.TotalChars() == bytes / 2);
    for (char16_t c : output.Text()) Check(c != u'%' && orv::ToolOutput::IsPrintableByDefault(c));
}

void FuzzCount(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const uint32_t type = data[0] % 12;
    uint32_t count = 0;
    if (!orv::DecodeSharedDllCount(type, data + 1, size - 1, count)) return;
    std::vector<uint8_t> back;
    Check(orv::EncodeSharedDllCount(type, count, back));
    uint32_t again = ~count;
    Check(orv::DecodeSharedDllCount(type, back.data(), back.size(), again) && again == count);
    const uint32_t up = orv::ApplyCountDelta(count, 1);
    Check(up == count + 1 || (count == 0xFFFFFFFFu && up == count));
    Check(orv::ApplyCountDelta(count, -1) == (count == 0 ? 0 : count - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    switch (data[0] % 3) {
    case 0: FuzzSection(data + 1, size - 1); break;
    case 1: FuzzOutput(data + 1, size - 1); break;
    default: FuzzCount(data + 1, size - 1); break;
    }
    return 0;
}
