#include "file_ops.h"

#include <shlwapi.h>

#include "text.h"
#include "unique_handle.h"
#include "wexception.h"
#include "engine_texts.h"

namespace {

constexpr DWORD kUrlBufferSize = 2084;

bool is_dot_entry(const wchar_t* name) {
    return (name[0] == L'.' && name[1] == 0) || (name[0] == L'.' && name[1] == L'.' && name[2] == 0);
}

// The steps both variants of the folder-tree creation share; reset is null
// for the silent one.
bool create_tree(const std::wstring& path, const PermissionReset* reset, OperationError* error) {
    if (PathFileExistsW(path.c_str())) return true;
    size_t last = path.rfind(L'\\');
    if (last == std::wstring::npos) return true;
    std::wstring parent = path.substr(0, last);
    if (!create_tree(parent, reset, error)) return false;
    // The root of a network path ("\\server\") is not ours to create.
    if (!parent.empty() && parent.back() == L'\\') return true;
    // A path written with a trailing "\" exists once its parent does.
    if (PathFileExistsW(path.c_str())) return true;
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        DWORD code = GetLastError();
        if (error) error->set(with_error_code(format(texts::kCreateDirectoryStem, path.c_str()), code), code);
        SetLastError(code);
        return false;
    }
    if (reset) return reset->apply(path, *error);
    return true;
}

}  // namespace

bool create_folder_tree(const std::wstring& path, const PermissionReset& reset, OperationError& error) {
    return create_tree(path, &reset, &error);
}

bool create_folder_tree_silently(const std::wstring& path) {
    return create_tree(path, nullptr, nullptr);
}

bool delete_folder_tree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    unique_find_handle listing(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) return false;
    // "." and ".." are skipped by name wherever they appear: not every file
    // system lists "." first.
    do {
        if (is_dot_entry(entry.cFileName)) continue;
        std::wstring path = folder + L"\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A junction or folder link goes by itself: what it points to
            // is not part of this tree.
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !delete_folder_tree(path))
                return false;
            RemoveDirectoryW(path.c_str());
        } else {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if (!DeleteFileW(path.c_str())) return false;
        }
    } while (FindNextFileW(listing.get(), &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES) return false;
    listing.reset();
    return RemoveDirectoryW(folder.c_str()) != FALSE;
}

bool read_whole_file(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (size == 0) return false;
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), size, &read, nullptr) || read != size) {
        DWORD code = GetLastError();
        bytes.clear();
        SetLastError(code);
        return false;
    }
    return true;
}

bool write_whole_file(const std::wstring& path, const void* bytes, DWORD length) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    unique_file file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, length, &written, nullptr)) return false;
    return written == length;
}

std::wstring path_join(std::wstring_view a, std::wstring_view b) {
    std::wstring folder(a);
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    std::wstring name(b);
    for (auto& c : name)
        if (c == L'/') c = L'\\';
    // PathCombineW writes up to MAX_PATH characters and has no way to say
    // the inputs are longer; refuse those before it sees them.
    if (folder.size() + name.size() >= MAX_PATH) return {};
    wchar_t combined[MAX_PATH] = {};
    if (!PathCombineW(combined, folder.c_str(), name.c_str())) return {};
    return combined;
}

std::wstring url_join(std::wstring_view a, std::wstring_view b) {
    std::wstring base(a);
    if (base.empty() || base.back() != L'/') base += L'/';
    std::wstring relative(b);
    // Neither part can be longer than a URL may be; Wine's UrlCombineW
    // misreads such inputs instead of failing.
    if (base.size() >= kUrlBufferSize || relative.size() >= kUrlBufferSize) return {};
    wchar_t combined[kUrlBufferSize] = {};
    DWORD size = kUrlBufferSize;
    if (FAILED(UrlCombineW(base.c_str(), relative.c_str(), combined, &size, 0))) return {};
    return combined;
}

std::wstring file_name_part(std::wstring_view path) {
    size_t slash = path.rfind(L'\\');
    std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    size_t forward = name.rfind(L'/');
    if (forward != std::wstring_view::npos) name = name.substr(forward + 1);
    return std::wstring(name);
}

std::wstring directory_part(std::wstring_view path, wchar_t separator) {
    size_t last = path.rfind(separator);
    if (last == std::wstring_view::npos || last == 0) return std::wstring(path);
    return std::wstring(path.substr(0, last));
}
