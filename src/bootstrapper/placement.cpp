#include "placement.h"

#include <shlwapi.h>

#include "digest.h"
#include "file_copy.h"
#include "file_ops.h"
#include "safe_path.h"
#include "text.h"
#include "wexception.h"
#include "engine_texts.h"

namespace {

constexpr std::wstring_view kDeploySuffix = L".deploy";

bool exists(const std::wstring& path) {
    return PathFileExistsW(path.c_str()) != FALSE;
}

// Moves from onto to, replacing what is there. A plain move would fail on
// any existing target, so a file left by an earlier run (or one the stopped
// updater service held) could never be replaced. A read-only target is made
// writable first, as a write over it would.
bool move_replacing(const std::wstring& from, const std::wstring& to) {
    DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// Whether path ends with the relative name, the name starting a path segment
// ("myactions\x.dll" is not "actions\x.dll").
bool ends_with_name(const std::wstring& path, const std::wstring& name) {
    if (name.empty() || path.size() <= name.size()) return false;
    size_t start = path.size() - name.size();
    if (path[start - 1] != L'\\') return false;
    return iequals(std::wstring_view(path).substr(start), name);
}

}  // namespace

std::wstring deploy_final_path(const std::wstring& path) {
    // Judged on the name alone: a file called just ".deploy" keeps its name.
    std::wstring name = file_name_part(path);
    if (name.size() <= kDeploySuffix.size()) return path;
    if (!iequals(std::wstring_view(path).substr(path.size() - kDeploySuffix.size()), kDeploySuffix))
        return path;
    return path.substr(0, path.size() - kDeploySuffix.size());
}

bool FilePlacement::place_downloaded_file(const std::wstring& path, std::string_view body,
                                          const std::wstring& expected, OperationError& error) const {
    return write_body(path, body, error) && place(path, expected, Source::downloaded, false, error);
}

bool FilePlacement::place_downloaded_prerequisite(const std::wstring& path, std::string_view body,
                                                  const std::wstring& expected, OperationError& error) const {
    return write_body(path, body, error) && place(path, expected, Source::downloaded, true, error);
}

bool FilePlacement::place_copied_file(const std::wstring& path, const std::wstring& expected,
                                      OperationError& error) const {
    return place(path, expected, Source::copied, false, error);
}

bool FilePlacement::place_copied_prerequisite(const std::wstring& path, const std::wstring& expected,
                                              OperationError& error) const {
    return place(path, expected, Source::copied, true, error);
}

bool FilePlacement::write_body(const std::wstring& path, std::string_view body, OperationError& error) const {
    std::wstring folder = directory_part(path, L'\\');
    if (!exists(folder) && !create_folder_tree(folder, *reset_, error)) return false;
    bool written = false;
    if (body.size() > MAXDWORD)
        SetLastError(ERROR_FILE_TOO_LARGE);
    else
        written = write_whole_file(path, body.data(), static_cast<DWORD>(body.size()));
    if (written) return true;
    DWORD code = GetLastError();
    error.set(with_error_code(format(texts::kCreateFileStem, file_name_part(path).c_str()), code), code);
    return false;
}

bool FilePlacement::place(const std::wstring& path, const std::wstring& expected, Source source,
                          bool prerequisite, OperationError& error) const {
    if (!reset_->apply(path, error)) return false;

    std::wstring final_path = deploy_final_path(path);
    if (final_path != path) {
        auto move = [&] { return move_replacing(path, final_path); };
        // Only a downloaded package file can be the updater service's
        // program, so only there is a held target worth waiting for.
        bool moved = (source == Source::downloaded && !prerequisite)
                         ? release_->retry_after_release(final_path, move)
                         : move();
        if (!moved) {
            DWORD code = GetLastError();
            error.set(with_error_code(format(texts::kRenameFileStem, path.c_str()), code), code);
            return false;
        }
    }

    if (!prerequisite && !updater_copy(final_path, error)) return false;

    DWORD kind = source == Source::downloaded ? kNoticeDownloadedFilePlaced : kNoticeCopiedFilePlaced;
    if (notice_ && !notice_(kind, final_path, prerequisite)) return false;

    // An empty file has no digest, so it never matches a listed one.
    if (!expected.empty() && !iequals(file_digest(final_path), expected)) {
        error.text = format(texts::kWrongFileHash, file_name_part(path).c_str());
        return false;
    }
    return true;
}

bool FilePlacement::updater_copy(const std::wstring& final_path, OperationError& error) const {
    if (!settings_.enable_automatic_updates ||
        !(settings_.load_ca_in_updater || settings_.load_ca_in_updater_service) ||
        settings_.action_files.empty())
        return true;

    std::wstring action;
    for (const std::wstring& listed : settings_.action_files) {
        std::wstring name = listed;
        for (wchar_t& c : name)
            if (c == L'/') c = L'\\';
        // The final path has lost a ".deploy" suffix the listed name may carry.
        name = deploy_final_path(name);
        if (ends_with_name(final_path, name)) {
            action = std::move(name);
            break;
        }
    }
    if (action.empty()) return true;

    std::wstring target;
    if (!join_listed_name(settings_.updater_folder, action, target, error)) return false;

    if (exists(target)) {
        DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(target.c_str())) {
            DWORD code = GetLastError();
            error.set(with_error_code(format(texts::kDeleteFileStem, target.c_str()), code), code);
            return false;
        }
    }
    if (!exists(settings_.updater_folder) && !create_folder_tree(settings_.updater_folder, *reset_, error))
        return false;
    std::wstring target_folder = directory_part(target, L'\\');
    if (!iequals(target_folder, settings_.updater_folder) && !exists(target_folder) &&
        !create_folder_tree(target_folder, *reset_, error))
        return false;

    BOOL cancel = FALSE;
    if (!copy_file_with_progress(final_path.c_str(), target.c_str(), nullptr, nullptr, &cancel, 0)) {
        DWORD code = GetLastError();
        error.set(with_error_code(format(texts::kCopyFileStem, file_name_part(final_path).c_str()), code),
                  code);
        return false;
    }
    return true;
}
