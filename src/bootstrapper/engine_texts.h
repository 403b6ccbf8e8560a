// Texts the engine reports to the user and the updater. Tests compare them exactly.
#pragma once

namespace texts {

// Task loop.
inline constexpr wchar_t kNotEnoughMemory[] = L"Not enough memory.";
inline constexpr wchar_t kIndexOutOfRange[] = L"The file index is outside the allowable range of values.";
inline constexpr wchar_t kUnsupportedTask[] = L"Unsupported task.";

// Shown with the product name in the service list.
inline constexpr wchar_t kServiceDescriptionSuffix[] = L" Service Installer";

// Reading and keeping the description file.
inline constexpr wchar_t kCopyDescriptionWithCode[] =
    L"Failed to copy the 'version_info.xml' file. Error: %d.";
inline constexpr wchar_t kCopyDescription[] = L"Failed to copy the 'version_info.xml' file.";
inline constexpr wchar_t kCreateDescriptionWithCode[] =
    L"Failed to create the 'version_info.xml' file. Error: %d.";
inline constexpr wchar_t kCreateDescription[] = L"Failed to create the 'version_info.xml' file.";
inline constexpr wchar_t kDescriptionNotFound[] = L"Can't find the 'version_info.xml' file (%s).";
inline constexpr wchar_t kReadDescriptionWithCode[] =
    L"Failed to read 'version_info.xml' file (%s). Error: %d.";
inline constexpr wchar_t kReadDescription[] = L"Failed to read 'version_info.xml' file (%s).";
inline constexpr wchar_t kLoadDescription[] = L"Failed to load 'version_info.xml' file (%s).";

// Description content.
inline constexpr wchar_t kNoPrerequisites[] =
    L"No prerequisites were found in the 'version_info.xml' file. Source url: %s.";
inline constexpr wchar_t kNoProducts[] = L"No products found in 'version_info.xml'. Source url: %s";
inline constexpr wchar_t kNoMsiAttribute[] =
    L"The 'msi' attribute is not defined in the 'version_info.xml' file.";
inline constexpr wchar_t kNoFilesTag[] = L"XML error: Can't find the 'files' tag.";
inline constexpr wchar_t kNoApplicationTag[] = L"XML error: Can't find the 'application' tag.";
inline constexpr wchar_t kInvalidFileName[] = L"Invalid file name '%s' in version_info.xml.";

// Notices shown instead of an install.
inline constexpr wchar_t kProductNotAvailable[] = L"The %s v%s product is not available.";
inline constexpr wchar_t kServerNotAvailable[] =
    L"The server is not available at the moment. Please try again later.";
inline constexpr wchar_t kPackageNotAvailable[] =
    L"Installing the package is not available in this version of the downloader.";
inline constexpr wchar_t kPrerequisitesNotAvailable[] =
    L"Installing prerequisites is not available in this version of the downloader.";

// Downloads.
inline constexpr wchar_t kDownloadErrorNoRange[] = L"Download error (not support range).";
inline constexpr wchar_t kDownloadError[] = L"Download error.";
inline constexpr wchar_t kForbiddenPrefix[] = L"403 error: Forbidden: ";
inline constexpr wchar_t kNotFound[] = L"404 error: Not Found: %s.";
inline constexpr wchar_t kProxyAuthenticationPrefix[] = L"407 error: Proxy Authentication Required: ";
inline constexpr wchar_t kDownloadStatus[] = L"Download error, status code: %d, url: %s.";

// Placing files; the stems without a full stop get their ending from with_error_code.
inline constexpr wchar_t kDeleteFileWithCode[] = L"Failed to delete '%s' file. Error: %d.";
inline constexpr wchar_t kDeleteFile[] = L"Failed to delete '%s' file.";
inline constexpr wchar_t kCopyFileWithCode[] = L"Failed to copy '%s' file. Error: %d.";
inline constexpr wchar_t kCopyFile[] = L"Failed to copy '%s' file.";
inline constexpr wchar_t kDeleteFileStem[] = L"Failed to delete '%s' file";
inline constexpr wchar_t kCopyFileStem[] = L"Failed to copy '%s' file";
inline constexpr wchar_t kCreateFileStem[] = L"Failed to create '%s' file";
inline constexpr wchar_t kRenameFileStem[] = L"Failed to rename '%s' file";
inline constexpr wchar_t kCreateDirectoryStem[] = L"Failed to create directory (%s)";
inline constexpr wchar_t kWrongFileHash[] = L"Wrong file hash: '%s'.";

// Cache folders and their permissions.
inline constexpr wchar_t kLocalAppDataNotFound[] = L"Failed to find local appdata directory.";
inline constexpr wchar_t kSidAllocationFailed[] = L"Failed to allocate memory for well known SID.";
inline constexpr wchar_t kSidCreationFailed[] = L"Failed to create well known SID.";
inline constexpr wchar_t kResetAclFailed[] = L"Failed to reset the ACL on cached file: %ls.";

// Signature and integrity of the description and the downloader.
inline constexpr wchar_t kCryptXmlInitFailed[] = L"Failed to initialize CryptoXML API (HRESULT = 0x%x).";
inline constexpr wchar_t kSignatureCheckFailed[] =
    L"Failed to check the signature of version_info.xml (HRESULT = 0x%x).";
inline constexpr wchar_t kKeyMismatch[] =
    L"Security error: The security key doesn't match the signature of 'version_info.xml'.";
inline constexpr wchar_t kKeyEmpty[] = L"Security error: The security key is empty.";
inline constexpr wchar_t kProgramUnreadableStem[] =
    L"The downloader program cannot be read to check it against 'version_info.xml'";
inline constexpr wchar_t kProgramMismatch[] =
    L"The downloader program does not match 'version_info.xml' (its digest differs); download the setup "
    L"program again.";

}  // namespace texts
