#pragma once
// Puts every received file in its final place: written from a download body
// or already copied from a local folder or share, its permissions reset, a
// ".deploy" suffix dropped, copied into the updater folder when it is one of
// the updater's action files, announced to the updater and checked against
// its listed MD5 digest.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "operation_error.h"
#include "permissions.h"
#include "service_release.h"

inline constexpr DWORD kNoticeDownloadedFilePlaced = 0x2000;
inline constexpr DWORD kNoticeCopiedFilePlaced = 0x2001;

// What the placements read of the engine.
struct PlacementSettings {
    bool enable_automatic_updates = false;
    bool load_ca_in_updater = false;
    bool load_ca_in_updater_service = false;
    std::vector<std::wstring> action_files;  // listed names of the action files, in list order
    std::wstring updater_folder;
};

// The updater notice for a placed file: kind (0x2000 or 0x2001), final
// path, prerequisite flag. The engine adds its byte and step counters.
// False stops the run.
using PlacementNotice = std::function<bool(DWORD kind, const std::wstring& final_path, bool prerequisite)>;

// The path a listed ".deploy" file ends up at: the path without the suffix
// (any case) when the file name is longer than the suffix, else the path
// itself (a file called just ".deploy" keeps its name).
std::wstring deploy_final_path(const std::wstring& path);

class FilePlacement {
public:
    FilePlacement(PlacementSettings settings, const PermissionReset& reset, const ServiceRelease& release,
                  PlacementNotice notice)
        : settings_(std::move(settings)), reset_(&reset), release_(&release), notice_(std::move(notice)) {}

    // Every placement returns true when the file is in place with the right
    // digest. False with error.text set is a failure; false with an empty
    // text means the updater refused the notice (a silent stop). Whatever was
    // done before a failure stays done.

    // A downloaded package file: writes body to path (its folder created when
    // missing), resets permissions, drops ".deploy" (replacing an existing
    // target, read-only or not; a target held by the updater service is freed
    // and the rename retried), updater copy, notice 0x2000,
    // digest check against expected (nothing compared when it is empty).
    bool place_downloaded_file(const std::wstring& path, std::string_view body, const std::wstring& expected,
                               OperationError& error) const;

    // A downloaded prerequisite: the same, but the rename is tried once, no
    // updater copy, the notice carries the prerequisite flag.
    bool place_downloaded_prerequisite(const std::wstring& path, std::string_view body,
                                       const std::wstring& expected, OperationError& error) const;

    // A package file already copied to path: from the permission reset on;
    // rename tried once; updater copy; notice 0x2001.
    bool place_copied_file(const std::wstring& path, const std::wstring& expected,
                           OperationError& error) const;

    // A prerequisite already copied to path: as a copied package file without
    // the updater copy; notice 0x2001 with the prerequisite flag.
    bool place_copied_prerequisite(const std::wstring& path, const std::wstring& expected,
                                   OperationError& error) const;

    // Copies final_path into the updater folder when automatic updates are on,
    // the updater loads custom actions and final_path is one of the action
    // files; replaces an earlier copy. True when there is nothing to do.
    bool updater_copy(const std::wstring& final_path, OperationError& error) const;

private:
    enum class Source { downloaded, copied };
    bool write_body(const std::wstring& path, std::string_view body, OperationError& error) const;
    bool place(const std::wstring& path, const std::wstring& expected, Source source, bool prerequisite,
               OperationError& error) const;

    PlacementSettings settings_;
    const PermissionReset* reset_;
    const ServiceRelease* release_;
    PlacementNotice notice_;
};
