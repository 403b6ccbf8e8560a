#include "description.h"

#include <cwctype>
#include <limits>

#include "file_ops.h"
#include "module_path.h"
#include "program_digest.h"
#include "safe_path.h"
#include "signature.h"
#include "text.h"
#include "wexception.h"
#include "xml_document.h"
#include "engine_texts.h"

namespace {

constexpr wchar_t kUpdaterPrefix[] = L"updater\\";
constexpr size_t kUpdaterPrefixLength = 8;

// Decimal text as a signed 64-bit value the way the C runtime reads it:
// leading white space, an optional sign, digits up to the first other
// character. Out-of-range values saturate instead of wrapping.
std::int64_t parse_decimal(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    std::uint64_t value = 0;
    const std::uint64_t limit = negative ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1
                                         : std::uint64_t(std::numeric_limits<std::int64_t>::max());
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const unsigned digit = unsigned(text[i] - L'0');
        if (value > (limit - digit) / 10) {
            value = limit;
            break;
        }
        value = value * 10 + digit;
    }
    if (!negative) return std::int64_t(value);
    return value == limit ? std::numeric_limits<std::int64_t>::min() : -std::int64_t(value);
}

LCID parse_language(std::wstring_view text) {
    const std::int64_t value = parse_decimal(text);
    return value > 0 && value <= std::int64_t(0xFFFFFFFF) ? LCID(value) : 0;
}

bool ends_with_msi(std::wstring_view name) {
    return name.size() >= 4 && iequals(name.substr(name.size() - 4), L".msi");
}

bool has_product(const std::vector<ProductRecord>& products, std::wstring_view code) {
    for (const auto& p : products)
        if (iequals(p.productCode, code)) return true;
    return false;
}

// Source location of a listed file: a web address is URL-joined, every other
// source kind is a folder. Empty when either part cannot be joined.
std::wstring source_join(int sourceKind, std::wstring_view base, std::wstring_view name) {
    if (base.empty()) return {};
    return sourceKind == kSourceWebAddress ? url_join(base, name) : path_join(base, name);
}

std::wstring english_language_name(LCID language) {
    wchar_t name[100] = {};
    if (GetLocaleInfoW(language, LOCALE_SENGLANGUAGE, name, 100) <= 0) return {};
    return name;
}

// The language whose prerequisites are kept: the user's own locale when it is
// listed, else the first listed locale with the user's language name, else 0
// (only the prerequisites without a language).
LCID choose_language(const std::vector<LCID>& listed, const DescriptionInputs& in) {
    for (LCID lcid : listed)
        if (lcid == in.userLcid) return lcid;
    for (LCID lcid : listed) {
        // 0 is no locale at all: the system would answer with the user's own
        // language and so pick the unmarked files over a real match.
        if (lcid == 0) continue;
        const std::wstring name = english_language_name(lcid);
        if (!name.empty() && iequals(name, in.userLanguageName)) return lcid;
    }
    return 0;
}

// The folder of the first setup.exe among the prerequisites, relative to the
// cache folder.
void find_setup_folder(const DescriptionInputs& in, DescriptionState& state) {
    for (const auto& local : state.prerequisites.localPaths) {
        wchar_t full[MAX_PATH] = {};
        wchar_t* filePart = nullptr;
        const DWORD n = GetFullPathNameW(local.c_str(), MAX_PATH, full, &filePart);
        if (n == 0 || n >= MAX_PATH || !filePart) continue;
        if (!iequals(filePart, L"setup.exe") && !iequals(filePart, L"setup.exe.deploy")) continue;
        std::wstring folder(full, size_t(filePart - full));
        if (!in.cacheFolder.empty()) {
            for (size_t at; (at = folder.find(in.cacheFolder)) != std::wstring::npos;)
                folder.erase(at, in.cacheFolder.size());
        }
        if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
        state.prerequisitesSetupFolder = folder;
        return;
    }
}

// Keeps the prerequisites added by this version (from index `first`) for one
// language; the language list keeps every entry.
void filter_prerequisites(const DescriptionInputs& in, DescriptionState& state, size_t first,
                          size_t firstLanguage, bool languageSpecific) {
    PrerequisiteList& list = state.prerequisites;
    const size_t added = list.urls.size() - first;
    size_t kept = added;
    if (languageSpecific) {
        const std::vector<LCID> listed(list.languages.begin() + std::ptrdiff_t(firstLanguage),
                                       list.languages.end());
        const LCID chosen = choose_language(listed, in);
        size_t out = first;
        for (size_t i = 0; i < added; ++i) {
            if (listed[i] != chosen) continue;
            if (out == first + i) {  // already in place; a self-move would empty it
                ++out;
                continue;
            }
            list.urls[out] = std::move(list.urls[first + i]);
            list.digests[out] = std::move(list.digests[first + i]);
            list.localPaths[out] = std::move(list.localPaths[first + i]);
            ++out;
        }
        list.urls.resize(out);
        list.digests.resize(out);
        list.localPaths.resize(out);
        kept = out - first;
    }
    find_setup_folder(in, state);
    state.totalSteps += std::int32_t(kept) + 1;
}

// One `file` of the applying version; the document is positioned on it.
bool read_file_entry(xml::CXmlDocument& doc, const DescriptionInputs& in, const std::wstring& base,
                     DescriptionState& state, bool& languageSpecific, OperationError& error) {
    std::wstring name = doc.GetData();
    const bool prerequisite = is_true(doc.GetAttribute(L"prerequisite"));
    const bool updater = is_true(doc.GetAttribute(L"updater"));
    const bool action = is_true(doc.GetAttribute(L"action"));

    const std::wstring size = doc.GetAttribute(L"size");
    if (!size.empty()) {
        const std::int64_t bytes = parse_decimal(size);
        if (bytes > 0) {
            const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - state.bytesTotal;
            state.bytesTotal += std::uint64_t(bytes) < room ? std::uint64_t(bytes) : room;
        }
    }

    if (prerequisite) {
        if (in.silent) return true;
        const std::wstring language = doc.GetAttribute(L"language");
        if (!language.empty()) languageSpecific = true;
        std::wstring local;
        if (!join_listed_name(in.cacheFolder, name, local, error)) return false;
        std::wstring url = source_join(in.sourceKind, base, name);
        if (url.empty()) {
            refuse_listed_name(name, error);
            return false;
        }
        state.prerequisites.urls.push_back(std::move(url));
        state.prerequisites.digests.push_back(doc.GetAttribute(L"hash"));
        state.prerequisites.languages.push_back(language.empty() ? 0 : parse_language(language));
        state.prerequisites.localPaths.push_back(std::move(local));
        return true;
    }

    std::wstring url = source_join(in.sourceKind, base, name);
    if (url.empty()) {
        refuse_listed_name(name, error);
        return false;
    }
    std::wstring local;
    if (updater && name.size() > kUpdaterPrefixLength &&
        iequals(std::wstring_view(name).substr(0, kUpdaterPrefixLength), kUpdaterPrefix)) {
        // The refusal names the file as listed, prefix included.
        if (!join_listed_name(in.updaterFolder, std::wstring_view(name).substr(kUpdaterPrefixLength), local,
                              error)) {
            refuse_listed_name(name, error);
            return false;
        }
    } else {
        if (!join_listed_name(in.cacheFolder, name, local, error)) return false;
        if (action) state.actionFiles.push_back(name);
    }
    state.totalSteps += 1;
    state.files.urls.push_back(std::move(url));
    state.files.digests.push_back(doc.GetAttribute(L"hash"));
    state.files.localPaths.push_back(std::move(local));
    return true;
}

// Preferences of the applying version; the document is inside `preferences`.
// Each element is searched after the previous one found.
void read_preferences(xml::CXmlDocument& doc, DescriptionPreferences& p) {
    struct Entry {
        const wchar_t* name;
        bool* flag;
        bool setTo;  // the value the one meaningful text gives
    };
    const Entry entries[] = {
        {L"showInstallUI", &p.showInstallUI, false},
        {L"showUninstallUI", &p.showUninstallUI, true},
        {L"showRunningApplicationsWarning", &p.showRunningApplicationsWarning, false},
        {L"loadCAInDownloader", &p.loadCAInDownloader, true},
        {L"loadCAInUpdater", &p.loadCAInUpdater, true},
        {L"loadCAInUpdaterService", &p.loadCAInUpdaterService, true},
        {L"enableAutomaticUpdates", &p.enableAutomaticUpdates, true},
    };
    for (const Entry& e : entries) {
        if (!doc.FindElement(e.name)) continue;
        if (iequals(doc.GetData(), e.setTo ? L"true" : L"false")) *e.flag = e.setTo;
    }
}

// An older version's product code with its own install and uninstall
// preferences; the document is positioned on its `version`.
void add_older_version(xml::CXmlDocument& doc, const std::wstring& language, DescriptionState& state) {
    ProductRecord record;
    record.productCode = doc.GetAttribute(L"productCode");
    record.name = doc.GetAttribute(L"name");
    record.language = language;
    record.component = doc.GetAttribute(L"component");
    record.scope = doc.GetAttribute(L"scope");
    doc.IntoElement();
    if (doc.FindElement(L"preferences")) {
        doc.IntoElement();
        if (doc.FindElement(L"showInstallUI") && iequals(doc.GetData(), L"false"))
            record.showInstallUI = false;
        doc.ResetMainPosition();
        if (doc.FindElement(L"showUninstallUI") && iequals(doc.GetData(), L"true"))
            record.showUninstallUI = true;
        doc.OutOfElement();
    }
    doc.OutOfElement();
    state.products.push_back(std::move(record));
}

// The downloader's integrity check: the program file against the digest
// the publisher listed (the key digits do not take part, see program_digest.h).
bool program_matches(const DescriptionInputs& in, const std::wstring& expected, OperationError& error) {
    const std::wstring path = in.programFile.empty() ? module_path() : in.programFile;
    DWORD code = path.empty() ? GetLastError() : 0;
    const std::wstring digest = path.empty() ? std::wstring() : program_digest(path, code);
    if (digest.empty()) {
        error.set(with_error_code(texts::kProgramUnreadableStem, code), code);
        return false;
    }
    if (!iequals(digest, expected)) {
        error.set(texts::kProgramMismatch, ERROR_INVALID_DATA);
        return false;
    }
    return true;
}

// The version that applies to this downloader; the document is positioned
// on its `version` and is left there.
bool read_applying_version(xml::CXmlDocument& doc, const DescriptionInputs& in, const std::wstring& language,
                           DescriptionState& state, OperationError& error, DescriptionFlags& flags) {
    const std::wstring name = doc.GetAttribute(L"name");
    const std::wstring component = doc.GetAttribute(L"component");
    const std::wstring scope = doc.GetAttribute(L"scope");

    if (iequals(doc.GetAttribute(L"updateType"), L"bootstrapper") && !in.silent)
        flags.bootstrapperUpdate = true;
    if (iequals(doc.GetAttribute(L"showRunningApplicationsWarning"), L"false"))
        state.preferences.showRunningApplicationsWarning = false;

    doc.IntoElement();
    if (!doc.FindElement(L"files")) {
        error.set(texts::kNoFilesTag, 0);
        return false;
    }
    state.packageFileName = doc.GetAttribute(L"msi");
    if (!ends_with_msi(state.packageFileName)) state.packageFileName += L".msi";
    state.customActionAssembly = doc.GetAttribute(L"customActionAssembly");
    state.customActionClass = doc.GetAttribute(L"customActionClass");
    state.downloaderDigest = doc.GetAttribute(L"hash");
    if (!state.downloaderDigest.empty() && !program_matches(in, state.downloaderDigest, error)) return false;

    const std::wstring base =
        source_join(in.sourceKind, source_join(in.sourceKind, in.installationUrl, language), name);

    const size_t firstPrerequisite = state.prerequisites.urls.size();
    const size_t firstLanguage = state.prerequisites.languages.size();
    bool languageSpecific = false;
    doc.IntoElement();
    while (doc.FindElement(L"file"))
        if (!read_file_entry(doc, in, base, state, languageSpecific, error)) return false;
    if (state.prerequisites.languages.size() > firstLanguage)
        filter_prerequisites(in, state, firstPrerequisite, firstLanguage, languageSpecific);
    doc.OutOfElement();

    if (doc.FindElement(L"preferences")) {
        doc.IntoElement();
        read_preferences(doc, state.preferences);
        doc.OutOfElement();
    }
    doc.OutOfElement();

    if (!has_product(state.products, in.productCode)) {
        ProductRecord record;
        record.productCode = in.productCode;
        record.name = name;
        record.language = language;
        record.component = component;
        record.scope = scope;
        record.showInstallUI = state.preferences.showInstallUI;
        record.showUninstallUI = state.preferences.showUninstallUI;
        state.products.push_back(std::move(record));
    }
    return true;
}

// Signed flag and certificate text; the document is inside `application`
// and is put back before its first child.
void read_signature(xml::CXmlDocument& doc, DescriptionState& state, DescriptionFlags& flags) {
    if (doc.FindElement(L"Signature")) {
        flags.signedDescription = doc.FindChildElement();
        doc.ResetChildPosition();
        if (flags.signedDescription) {
            state.certificateText.clear();
            const wchar_t* const path[] = {L"KeyInfo", L"X509Data", L"X509Certificate"};
            int entered = 0;
            doc.IntoElement();
            ++entered;
            for (const wchar_t* step : path) {
                if (!doc.FindElement(step)) break;
                if (step == path[2]) {
                    state.certificateText = doc.GetData();
                    break;
                }
                doc.IntoElement();
                ++entered;
            }
            while (entered-- > 0) doc.OutOfElement();
        }
    }
    doc.ResetMainPosition();
}

}  // namespace

DescriptionFlags& description_flags() {
    static DescriptionFlags flags;
    return flags;
}

bool InterpretDescription(xml::CXmlDocument& doc, const DescriptionInputs& in, DescriptionState& state,
                          OperationError& error, DescriptionFlags& flags) {
    doc.ResetPosition();
    if (!doc.FindElement(L"application")) {
        error.set(texts::kNoApplicationTag, 0);
        return false;
    }
    doc.IntoElement();
    read_signature(doc, state, flags);

    const std::wstring cachedFile = in.cacheFolder + L"\\version_info.xml";
    const bool accepted =
        in.securityKeyDigits
            ? AcceptDescription(flags.signedDescription, state.certificateText, cachedFile,
                                *in.securityKeyDigits, error)
            : AcceptDescription(flags.signedDescription, state.certificateText, cachedFile, error);
    if (!accepted) return false;

    while (doc.FindElement(L"product")) {
        const std::wstring language = doc.GetAttribute(L"language");
        const bool applies = iequals(language, in.language);
        doc.IntoElement();
        while (doc.FindElement(L"version")) {
            const std::wstring name = doc.GetAttribute(L"name");
            const std::wstring productCode = doc.GetAttribute(L"productCode");
            if (applies && iequals(name, in.version)) {
                if (!read_applying_version(doc, in, language, state, error, flags)) return false;
            } else if (!productCode.empty() && (applies || !name.empty()) &&
                       !has_product(state.products, productCode)) {
                add_older_version(doc, language, state);
            }
        }
        doc.OutOfElement();
    }
    return true;
}
