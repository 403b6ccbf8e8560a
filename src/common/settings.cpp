#include "settings.h"

#include <iterator>

#include "text.h"

void LoadDeploymentSettings(HMODULE module, DeploymentSettings& out) {
    for (const auto& field : kSettingFields) {
        // Length 0 asks for a read-only pointer into the resource, so a long
        // value is never cut at a buffer size.
        const wchar_t* text = nullptr;
        int length = LoadStringW(module, field.id, reinterpret_cast<LPWSTR>(&text), 0);
        if (length > 0 && text != nullptr)
            (out.*field.member).assign(text, static_cast<size_t>(length));
        else
            (out.*field.member).clear();
    }
    out.managedConfigFile.clear();
}

namespace {

bool is_slash(wchar_t c) {
    return c == L'/' || c == L'\\';
}

const wchar_t* const kMonthNames[] = {L"jan", L"feb", L"mar", L"apr", L"may", L"jun",
                                      L"jul", L"aug", L"sep", L"oct", L"nov", L"dec"};

// "01" + month + year: the first of the month for period "month", else the
// first of January, so every run in the same period finds the same host.
std::wstring mirror_stamp(const DeploymentSettings& s, const SYSTEMTIME& utcNow) {
    unsigned month = iequals(s.datedMirrorPeriod, L"month") ? utcNow.wMonth : 1u;
    if (month < 1 || month > std::size(kMonthNames)) month = 1;  // not a real date: no crash
    return format(L"%02d%s%d", 1, kMonthNames[month - 1], static_cast<int>(utcNow.wYear));
}

}  // namespace

std::list<std::wstring> BuildAlternativeUrls(const DeploymentSettings& s, const SYSTEMTIME& utcNow) {
    std::list<std::wstring> urls;
    if (!is_empty_value(s.additionalInstallationUrls)) {
        // A part of only white space stays as an empty entry; fail-over skips it.
        for (auto& part : split_list(s.additionalInstallationUrls)) urls.push_back(std::move(part));
    }

    if (is_true(s.datedMirrorEnabled) && !is_empty_value(s.datedMirrorPrefix)) {
        std::wstring path = iequals(s.datedMirrorPath, L"<Empty>") ? std::wstring() : s.datedMirrorPath;
        while (!path.empty() && is_slash(path.back())) path.pop_back();
        size_t first = 0;
        while (first < path.size() && is_slash(path[first])) ++first;
        path.erase(0, first);

        std::wstring host = s.datedMirrorPrefix + mirror_stamp(s, utcNow);
        std::wstring domain = iequals(s.datedMirrorDomain, L"<Empty>") ? std::wstring() : s.datedMirrorDomain;
        if (!domain.empty()) {
            if (domain.front() != L'.') host += L'.';
            host += domain;
        }
        urls.push_back(L"http://" + host + L"/" + path);
        urls.push_back(L"https://" + host + L"/" + path);
    }
    return urls;
}

std::list<std::wstring> BuildAlternativeUrls(const DeploymentSettings& s) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return BuildAlternativeUrls(s, now);
}
