#include "stamper.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "key_slot.h"
#include "security_key.h"
#include "setting_rules.h"
#include "string_block.h"
#include "text.h"
#include "tool_io.h"
#include "unique_handle.h"
#include "wexception.h"

namespace {

std::wstring quoted(const std::wstring& path) {
    return L"'" + path + L"'";
}

[[noreturn]] void fail(const std::wstring& base, DWORD code) {
    throw wexception(with_error_code(base, code));
}

std::wstring full_path(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) fail(L"cannot resolve the path " + quoted(path), GetLastError());
    std::wstring out(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    out.resize(n);
    return out;
}

// True when both names reach the same existing file (links, other spellings).
bool same_file(const std::wstring& a, const std::wstring& b) {
    if (iequals(full_path(a), full_path(b))) return true;
    auto open = [](const std::wstring& path) {
        return unique_file(CreateFileW(path.c_str(), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    unique_file fa = open(a), fb = open(b);
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!fa || !fb || !GetFileInformationByHandle(fa.get(), &ia) ||
        !GetFileInformationByHandle(fb.get(), &ib))
        return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

unique_module load_as_data(const std::wstring& path) {
    unique_module module(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        const DWORD code = GetLastError();
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            fail(L"cannot open " + quoted(path), GetLastError());
        fail(quoted(path) + L" is not a Windows program", code);
    }
    return module;
}

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

BOOL CALLBACK first_block_name(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    *reinterpret_cast<LPCWSTR*>(param) = name;
    return FALSE;
}

std::vector<WORD> block_languages(HMODULE module, WORD block) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(block), collect_language,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

// The language a new block gets: the one the table already uses, so the
// loader finds old and new blocks alike.
WORD table_language(HMODULE module) {
    LPCWSTR name = nullptr;
    EnumResourceNamesW(module, RT_STRING, first_block_name, reinterpret_cast<LONG_PTR>(&name));
    if (name && IS_INTRESOURCE(name)) {
        auto languages = block_languages(module, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
        if (!languages.empty()) return languages.front();
    }
    return MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
}

struct BlockUpdate {
    WORD block;
    WORD language;
    bool existed;
    StringBlock strings;
};

// Every existing language entry of each touched block gets the new values,
// so whichever entry the loader picks holds them.
std::vector<BlockUpdate> plan_blocks(HMODULE module, const std::wstring& input, const StampPlan& plan) {
    std::set<WORD> blocks;
    for (const auto& [id, value] : plan.strings) blocks.insert(string_block_id(id));
    std::vector<BlockUpdate> updates;
    for (WORD block : blocks) {
        std::vector<BlockUpdate> entries;
        for (WORD language : block_languages(module, block)) {
            HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
            HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
            const void* data = loaded ? LockResource(loaded) : nullptr;
            auto strings = data ? decode_string_block(data, SizeofResource(module, found)) : std::nullopt;
            if (!strings)
                throw wexception(L"the string table of " + quoted(input) + L" is damaged (block " +
                                 std::to_wstring(block) + L")");
            entries.push_back({block, language, true, *strings});
        }
        if (entries.empty()) entries.push_back({block, table_language(module), false, {}});
        for (auto& entry : entries) {
            for (const auto& [id, value] : plan.strings)
                if (string_block_id(id) == block) entry.strings[string_block_slot(id)] = value;
            updates.push_back(std::move(entry));
        }
    }
    return updates;
}

void update_resources(const std::wstring& path, const std::vector<BlockUpdate>& updates) {
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    if (!update) fail(L"cannot update the resources of the copy", GetLastError());
    for (const auto& entry : updates) {
        // A block whose strings are all removed is written with 16 empty
        // strings rather than deleted: the loader reads it as absent either
        // way, and some resource updaters ignore a deletion.
        if (!entry.existed && string_block_is_empty(entry.strings)) continue;
        auto bytes = encode_string_block(entry.strings);
        const BOOL ok = UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(entry.block), entry.language,
                                        bytes.data(), static_cast<DWORD>(bytes.size()));
        if (!ok) {
            const DWORD code = GetLastError();
            EndUpdateResourceW(update, TRUE);
            fail(L"cannot update the string table of the copy", code);
        }
    }
    if (!EndUpdateResourceW(update, FALSE))
        fail(L"cannot write the string table of the copy", GetLastError());
}

std::wstring load_string(HMODULE module, UINT id) {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

// Reads the copy back the way the downloader will, so a write that the
// loader would not see is caught here and not by the publisher's users.
void verify_strings(const std::wstring& path, const StampPlan& plan) {
    unique_module module = load_as_data(path);
    for (const auto& [id, value] : plan.strings) {
        if (load_string(module.get(), id) != value)
            throw wexception(L"the copy does not read back string " + std::to_wstring(id) +
                             L" as written; nothing was stamped");
    }
}

std::string read_all(HANDLE file, const std::wstring& path) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) fail(L"cannot read " + quoted(path), GetLastError());
    if (size.QuadPart > 0x7FFFFFFF) throw wexception(quoted(path) + L" is too large");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size()))
        fail(L"cannot read " + quoted(path), GetLastError());
    return bytes;
}

std::wstring key_count_problem(size_t count) {
    if (count == 0) return L"the security-key marker is not in the program";
    return L"the security-key marker appears " + std::to_wstring(count) +
           L" times in the program; expected once";
}

void write_key(const std::wstring& path, const std::wstring& input, const std::string& key) {
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) fail(L"cannot open the copy", GetLastError());
    const auto slots = find_key_slots(read_all(file.get(), path));
    if (slots.size() != 1) throw wexception(key_count_problem(slots.size()) + L" " + quoted(input));
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(slots.front());
    DWORD written = 0;
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !WriteFile(file.get(), key.data(), static_cast<DWORD>(key.size()), &written, nullptr) ||
        written != key.size())
        fail(L"cannot write the security key into the copy", GetLastError());
}

}  // namespace

StampPlan plan_stamp(const std::vector<Assignment>& assignments) {
    StampPlan plan;
    for (const auto& a : assignments) {
        const std::wstring from = a.origin.empty() ? L"" : L" (" + a.origin + L")";
        if (iequals(a.name, L"key")) {
            if (auto problem = check_key_digits(a.value))
                throw wexception(L"the security key " + *problem + L", got " + shown(a.value) + from);
            plan.key = narrow(to_lower(a.value));
            continue;
        }
        const SettingField* field = find_setting(a.name);
        if (!field) throw wexception(L"unknown setting " + shown(a.name) + from);
        if (auto problem = check_setting_value(*field, a.value))
            // "<Empty>" is named by the problem itself.
            throw wexception(L"'" + std::wstring(field->name) + L"' " + *problem +
                             (iequals(a.value, L"<Empty>") ? L"" : L", got " + shown(a.value)) + from);
        plan.strings[field->id] = a.value;
    }
    return plan;
}

void stamp_file(const std::wstring& input, const std::wstring& output, const StampPlan& plan) {
    if (GetFileAttributesW(input.c_str()) == INVALID_FILE_ATTRIBUTES)
        fail(L"cannot open " + quoted(input), GetLastError());
    if (same_file(input, output)) throw wexception(L"the output must be another file than the input");

    std::vector<BlockUpdate> updates;
    {
        unique_module module = load_as_data(input);
        updates = plan_blocks(module.get(), input, plan);
    }

    TemporaryFile temporary(output, L"qrs");
    if (!CopyFileW(input.c_str(), temporary.path().c_str(), FALSE))
        fail(L"cannot copy " + quoted(input) + L" next to " + quoted(output), GetLastError());
    if (!updates.empty()) {
        update_resources(temporary.path(), updates);
        verify_strings(temporary.path(), plan);
    }
    if (plan.key) write_key(temporary.path(), input, *plan.key);
    if (!MoveFileExW(temporary.path().c_str(), output.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(L"cannot write " + quoted(output), GetLastError());
    temporary.moved();
}

StampedSettings read_stamped_settings(const std::wstring& path) {
    StampedSettings stamped;
    {
        unique_module module = load_as_data(path);
        LoadDeploymentSettings(module.get(), stamped.values);
    }
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) fail(L"cannot open " + quoted(path), GetLastError());
    const std::string bytes = read_all(file.get(), path);
    const auto slots = find_key_slots(bytes);
    if (slots.size() == 1)
        stamped.key = bytes.substr(slots.front(), kSecurityKeyDigits);
    else
        stamped.key_problem = key_count_problem(slots.size());
    return stamped;
}

std::wstring format_stamped_settings(const StampedSettings& stamped) {
    std::vector<const SettingField*> fields;
    for (const auto& field : kSettingFields) fields.push_back(&field);
    std::sort(fields.begin(), fields.end(), [](auto* a, auto* b) { return a->id < b->id; });
    std::wstring out;
    for (const SettingField* field : fields) {
        const std::wstring& value = stamped.values.*field->member;
        if (value.empty()) out += L"# " + std::wstring(field->name) + L" is absent\n";
        // Quoted where the settings-file reader would otherwise trim or unquote it.
        const bool quote =
            value != trim(value) || (value.size() >= 2 && value.front() == L'"' && value.back() == L'"');
        out += std::wstring(field->name) + L"=" + (quote ? L"\"" + value + L"\"" : value) + L"\n";
    }
    if (stamped.key)
        out += L"key=" + widen(*stamped.key) + L"\n";
    else
        out += L"# no security key: " + stamped.key_problem + L"\n";
    return out;
}
