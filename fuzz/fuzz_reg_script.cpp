// Fuzz target of the offline registration file reader: any bytes must read
// to the end without a fault, and what is read must keep the reader's
// promises (checked below; a broken promise aborts).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/RegScript.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckValue(const orv::RegScriptValue& value) {
    if (value.form == orv::RegValueForm::String) {
        Check(value.typeWord == L"string");
        Check(value.data.find(L'"') == std::wstring::npos);
    }
    Check(value.name.find(L'"') == std::wstring::npos);
    orv::RegValueData data;
    if (!orv::MakeRegValueData(value, data)) {
        Check(orv::ClassifyRegTypeWord(value.typeWord) == orv::RegScriptType::Unrecognized);
        Check(data.bytes.empty());
        return;
    }
    switch (data.type) {
    case orv::RegValueType::String:
        Check(data.bytes.size() >= 2 && data.bytes.size() % 2 == 0);
        Check(data.bytes[data.bytes.size() - 1] == 0 && data.bytes[data.bytes.size() - 2] == 0);
        break;
    case orv::RegValueType::Dword:
        Check(data.bytes.size() == 4);
        break;
    case orv::RegValueType::Binary:
        Check(data.bytes.size() <= value.data.size());
        break;
    default:
        Check(false);
    }
    // What was written reads back as unchanged.
    Check(orv::RegStoredDataMatches(data, data.bytes.data(), data.bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    // First byte: options. The rest: the file.
    const uint8_t flags = bytes[0];
    std::string_view file(reinterpret_cast<const char*>(bytes + 1), size - 1);

    orv::RegScriptOptions options;
    options.bNtFamily = (flags & 1) != 0;
    if (flags & 2) options.targetDir = L"C:\\Program Files\\App";
    if (flags & 4) options.systemDir = L"C:\\WINDOWS\\SYSTEM32\\";
    if (flags & 8) options.targetDir.assign(300, L'd');
    if (flags & 16) {
        // A converter that refuses some bytes and widens others beyond 0xFF.
        options.convert = [](std::string_view in, std::wstring& out) {
            out.clear();
            for (char c : in) {
                unsigned char b = static_cast<unsigned char>(c);
                if (b == 0x81) return false;
                out.push_back(b >= 0xF0 ? static_cast<wchar_t>(0x1F000 + b) : static_cast<wchar_t>(b));
            }
            return true;
        };
    }

    orv::RegScriptReader reader(file, options);
    orv::RegScriptSection section;
    uint64_t lastLine = 0;
    bool bFirst = true;
    while (reader.NextSection(section)) {
        Check(section.bHasHeader || bFirst);
        bFirst = false;
        if (section.bHasHeader) {
            Check(section.headerLine.lineNumber > lastLine);
            lastLine = section.headerLine.lineNumber;
            const orv::RegScriptHeader& header = section.header;
            if (header.status == orv::RegHeaderStatus::Ok) {
                orv::RegTopKey topKey;
                Check(orv::LookupRegTopKey(header.topKeyName, topKey) && topKey == header.topKey);
                Check(header.subkeyPath.find_first_not_of(L'\\') != std::wstring::npos);
                Check(header.subkeyPath.find(L'\0') == std::wstring::npos);
            }
            Check(orv::DescribeRegHeaderStatus(header.status)[0] != 0);
        }
        for (const orv::RegScriptLine& line : section.lines) {
            Check(line.lineNumber > lastLine);
            lastLine = line.lineNumber;
            Check(orv::DescribeRegLineStatus(line.status)[0] != 0);
            if (!section.bHasHeader) {
                Check(line.status == orv::RegLineStatus::BeforeFirstHeader);
                continue;
            }
            Check(line.status != orv::RegLineStatus::Header && line.status != orv::RegLineStatus::BeforeFirstHeader);
            Check(line.text.empty() || line.text[0] != L'[');
            if (line.status == orv::RegLineStatus::Value) {
                Check(line.text.find(L'\0') == std::wstring::npos);
                CheckValue(line.value);
            }
        }
    }
    Check(!reader.NextSection(section));
    return 0;
}
