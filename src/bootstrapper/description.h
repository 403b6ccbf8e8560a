#pragma once
// Reading version_info.xml into the engine's lists, strings and flags.
// Plain records in and out so that the reading can be tested without the
// engine: the engine keeps a DescriptionState (or copies from one) and
// passes its settings in DescriptionInputs.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "operation_error.h"

namespace xml {
class CXmlDocument;
}

// Source kinds of the installation URL; only a web address is URL-joined.
enum DescriptionSourceKind : int {
    kSourceLocalFolder = 1,
    kSourceWebAddress = 2,
    kSourceFtpAddress = 3,
    kSourceNetworkShare = 4,
};

// One entry of the product list: the product being installed or an older
// version whose product code the installation removes.
struct ProductRecord {
    std::wstring productCode;
    std::wstring name;  // version name
    std::wstring language;
    std::wstring component;
    std::wstring installLocation;  // filled by the installation step
    std::wstring scope;
    bool showInstallUI = true;
    bool showUninstallUI = false;
    ATOM folderAtom = 0;  // filled by the installation step
};

// Package files in document order: three parallel lists.
struct PackageFileList {
    std::vector<std::wstring> urls;
    std::vector<std::wstring> digests;  // MD5, 32 hex digits; empty = no check
    std::vector<std::wstring> localPaths;
};

// Prerequisite files. After language filtering `languages` still holds an
// entry for every listed prerequisite; the other three hold the kept ones.
struct PrerequisiteList {
    std::vector<std::wstring> urls;
    std::vector<std::wstring> digests;
    std::vector<LCID> languages;
    std::vector<std::wstring> localPaths;
};

// Flags the preferences of the applying version set; the defaults are the
// engine's own.
struct DescriptionPreferences {
    bool showInstallUI = true;
    bool showUninstallUI = false;
    bool showRunningApplicationsWarning = true;
    bool loadCAInDownloader = false;
    bool loadCAInUpdater = false;
    bool loadCAInUpdaterService = false;
    bool enableAutomaticUpdates = false;
};

// What the reading needs from the settings and the launch state.
struct DescriptionInputs {
    std::wstring language;         // `language` setting
    std::wstring version;          // `version` setting
    std::wstring productCode;      // `productCode` setting
    std::wstring installationUrl;  // current installation URL
    int sourceKind = kSourceWebAddress;
    bool silent = false;
    LCID userLcid = 0;              // GetUserDefaultLCID at start-up
    std::wstring userLanguageName;  // its English language name
    std::wstring cacheFolder;
    std::wstring updaterFolder;
    // The 40 security-key digits to accept the description against; unset
    // means the key built into this program.
    std::optional<std::string> securityKeyDigits;
    // The program checked against `hash` of `files`; empty means this
    // process's own program file.
    std::wstring programFile;
};

// The engine values the reading fills. Lists are appended to and never
// emptied; counters are added to; strings are overwritten when read.
struct DescriptionState {
    std::wstring certificateText;
    std::wstring packageFileName;  // always ends with ".msi" once read
    std::wstring customActionAssembly;
    std::wstring customActionClass;
    std::wstring downloaderDigest;  // `hash` of `files`
    DescriptionPreferences preferences;
    std::vector<ProductRecord> products;
    PackageFileList files;
    std::vector<std::wstring> actionFiles;  // relative names of `action` files
    PrerequisiteList prerequisites;
    std::wstring prerequisitesSetupFolder;  // relative to the cache folder
    std::int32_t totalSteps = 0;
    std::uint64_t bytesTotal = 0;
};

// Process-wide flags: they keep their values from one run to the next.
struct DescriptionFlags {
    bool signedDescription = false;   // `Signature` with a child element was seen
    bool bootstrapperUpdate = false;  // set once, never cleared
};
DescriptionFlags& description_flags();

// Reads the parsed description (task "ParseXML"). True when the document was
// read, even if no product applies; false with error set when the document
// lacks `application` or the applying version lacks `files`, when the
// description is refused, or when a listed file name would land outside its
// folder. The navigation position of doc is left wherever reading stopped.
bool InterpretDescription(xml::CXmlDocument& doc, const DescriptionInputs& in, DescriptionState& state,
                          OperationError& error, DescriptionFlags& flags = description_flags());
