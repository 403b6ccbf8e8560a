// URL splitting, verb texts and header numbers of a request.
#include <gtest/gtest.h>

#include "http_request.h"

namespace {

struct UrlCase {
    const wchar_t* url;
    int scheme;
    const wchar_t* host;
    const wchar_t* path;
    int port;
};

TEST(HttpUrl, CrackGivesSchemeHostPathAndConnectPort) {
    const UrlCase cases[] = {
        {L"http://example.com/a/b?c=1", INTERNET_SCHEME_HTTP, L"example.com", L"/a/b?c=1", 80},
        {L"http://example.com:8080/x", INTERNET_SCHEME_HTTP, L"example.com", L"/x", 8080},
        {L"http://example.com", INTERNET_SCHEME_HTTP, L"example.com", L"", 80},
        {L"https://example.com/v.xml", INTERNET_SCHEME_HTTPS, L"example.com", L"/v.xml", 443},
        // An https URL keeps the port it names.
        {L"https://localhost:8443/v.xml", INTERNET_SCHEME_HTTPS, L"localhost", L"/v.xml", 8443},
        {L"HTTP://Example.com:81/", INTERNET_SCHEME_HTTP, L"Example.com", L"/", 81},
        {L"http://user:pw@host:82/p", INTERNET_SCHEME_HTTP, L"host", L"/p", 82},
        // A port in the query belongs to another URL.
        {L"https://a.com/r?to=http://b.com:99/", INTERNET_SCHEME_HTTPS, L"a.com", L"/r?to=http://b.com:99/",
         443},
        {L"http://127.0.0.1:0/", INTERNET_SCHEME_HTTP, L"127.0.0.1", L"/", 80},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "url " << std::string(c.url, c.url + wcslen(c.url)));
        inner::CrackedUrl cracked = inner::CrackUrl(c.url);
        EXPECT_EQ(cracked.scheme, c.scheme);
        EXPECT_EQ(cracked.hostName, c.host);
        EXPECT_EQ(cracked.urlPath, c.path);
        EXPECT_EQ(cracked.port, c.port);
    }
}

TEST(HttpUrl, UnusableUrlsGiveNoHost) {
    for (const wchar_t* url : {L"", L"not a url", L"http://"}) {
        inner::CrackedUrl cracked = inner::CrackUrl(url);
        EXPECT_TRUE(cracked.hostName.empty()) << "host of an unusable URL";
    }
}

TEST(HttpUrl, VerbTexts) {
    const std::pair<int, const wchar_t*> cases[] = {
        {0, L"GET"}, {1, L"POST"}, {2, L"POST"}, {3, L"DELETE"}, {4, L"GET"}, {-1, L"GET"},
    };
    for (const auto& [verb, text] : cases) EXPECT_STREQ(inner::VerbText(verb), text) << "verb " << verb;
}

TEST(HttpUrl, HeaderNumbers) {
    const std::pair<const wchar_t*, int> cases[] = {
        {L"200", 200},      {L" 1234 ", 1234},   {L"0", 0}, {L"2147483647", 2147483647},
        {L"2147483648", 0}, {L"99999999999", 0}, {L"", 0},  {L"12a", 0},
        {L"-5", 0},         {L"4294967296", 0},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(inner::ParseHeaderNumber(text), value) << std::string(text, text + wcslen(text));
    }
}

TEST(HttpUrl, DefaultRecord) {
    HttpRequestRecord record;
    // Never from or into the cache; redirects across http and https without a warning.
    EXPECT_EQ(record.openFlags,
              static_cast<DWORD>(INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                 INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP |
                                 INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS | INTERNET_FLAG_PRAGMA_NOCACHE));
    // The system's agent string, taken from the URL moniker library.
    EXPECT_FALSE(record.userAgent.empty());
    EXPECT_EQ(record.userAgent.rfind(L"Mozilla/", 0), 0u) << "agent is not the system's";
}

}  // namespace
