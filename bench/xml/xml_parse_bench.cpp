// Parse throughput of the XML document on a 10 MB update-description-like
// text. Prints MB/s (1 MB = 1 000 000 characters of the ASCII text, so also
// bytes of the file it would come from). Not a test: no pass/fail.
#include <chrono>
#include <cstdio>
#include <string>

#include "xml_document.h"

namespace {

std::wstring MakeDescription(std::size_t target_chars) {
    std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<application>\r\n";
    for (unsigned product = 0; text.size() < target_chars; ++product) {
        text += L"  <product language=\"Language" + std::to_wstring(product) + L"\">\r\n";
        for (unsigned version = 0; version < 10; ++version) {
            text += L"    <version name=\"" + std::to_wstring(version) +
                    L".0\" component=\"{6F1E2C3A-0000-4000-8000-00000000000" + std::to_wstring(version) +
                    L"}\" scope=\"perMachine\" updateType=\"bootstrapper\">\r\n";
            text += L"      <!-- files of this version -->\r\n";
            text +=
                L"      <files msi=\"product.msi\" customActionAssembly=\"ca.dll\" "
                L"hash=\"0123456789abcdef\">\r\n";
            for (unsigned file = 0; file < 20; ++file)
                text += L"        <file size=\"" + std::to_wstring(1000 + file) +
                        L"\" hash=\"d41d8cd98f00b204e9800998ecf8427e\" action=\"false\">bin\\module" +
                        std::to_wstring(file) + L".dll</file>\r\n";
            text +=
                L"      </files>\r\n      <preferences>\r\n        <showInstallUI>true</showInstallUI>\r\n"
                L"        <enableAutomaticUpdates>false</enableAutomaticUpdates>\r\n      </preferences>\r\n";
            text += L"    </version>\r\n";
        }
        text += L"  </product>\r\n";
    }
    text += L"</application>\r\n";
    return text;
}

}  // namespace

int main() {
    const std::wstring text = MakeDescription(10 * 1000 * 1000);
    const double megabytes = static_cast<double>(text.size()) / 1e6;
    // A fresh document pays for its text copy and index memory once.
    double first;
    {
        xml::CXmlDocument fresh;
        const auto start = std::chrono::steady_clock::now();
        fresh.SetDocument(text);
        first = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    xml::CXmlDocument doc;
    doc.SetFlags(xml::kIgnoreNameCase);
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const bool well_formed = doc.SetDocument(text);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!well_formed) {
            std::printf("not well-formed: %ls\n", doc.ErrorText().c_str());
            return 1;
        }
        if (seconds < best) best = seconds;
    }
    std::printf("xml parse: %.1f MB document, %u elements\n", megabytes,
                static_cast<unsigned>(doc.RecordCount() - 1));
    std::printf("  fresh document: %.1f ms, %.1f MB/s\n", first * 1000.0, megabytes / first);
    std::printf("  re-parse, best of 5: %.1f ms, %.1f MB/s\n", best * 1000.0, megabytes / best);
    return 0;
}
