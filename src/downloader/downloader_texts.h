// Texts the downloader shows in its window and failure reports. Tests compare them exactly.
#pragma once

namespace texts {

// Start-up.
inline constexpr wchar_t kUnsupportedSystem[] = L"Unsupported operating system.";
inline constexpr wchar_t kNoVersionInfo[] = L"Failed to open 'FileVersionInfo' of the downloader.";
inline constexpr wchar_t kNoOriginalFilename[] = L"Failed to read 'OriginalFilename' of the downloader.";
inline constexpr wchar_t kComInitFailed[] = L"Failed to initialize COM library. Error code = %d.";
inline constexpr wchar_t kInitInstanceFailed[] = L"Unknown error in the InitInstance function.";
inline constexpr wchar_t kUnknownError[] = L"Unknown error.";

// Installer outcome.
inline constexpr wchar_t kInstallerFailed[] = L"The installer failed. Exit code: %d.";
inline constexpr wchar_t kNamedInstallerFailed[] = L"The '%s' installer failed. Exit code: %d.";

// Progress window and its download thread.
inline constexpr wchar_t kBadInstallationUrl[] = L"The 'Installation Url' parameter is not correctly formed.";
inline constexpr wchar_t kThreadStartFailed[] = L"Failed to start the downloader thread.";
inline constexpr wchar_t kThreadStartTimedOut[] =
    L"Failed to start the downloader thread (the time-out interval elapsed).";
inline constexpr wchar_t kPrivilegesForRemoval[] =
    L"Insufficient privileges in order to remove the previous version of the product.";
inline constexpr wchar_t kProgressWithPrefix[] = L"%s%s of %s";
inline constexpr wchar_t kProgress[] = L"%s of %s";

// Download failures: the engine's text (or the fallback) with the failing task.
inline constexpr wchar_t kFailureWithTask[] = L"%s Task name: %s.";
inline constexpr wchar_t kUnknownFailureWithTask[] = L"Download failed (unknown error). Task name: %s.";
inline constexpr wchar_t kErrorCodeSuffix[] = L" Error code: 0x%X.";

}  // namespace texts
