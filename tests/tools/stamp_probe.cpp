// Prints the deployment settings and the security key this program reads
// from its own file, one name=value line each, as UTF-8.
#include <windows.h>

#include <string>

#include "security_key.h"
#include "settings.h"
#include "text.h"

int wmain() {
    DeploymentSettings values;
    LoadDeploymentSettings(GetModuleHandleW(nullptr), values);
    std::wstring out;
    for (const auto& field : kSettingFields)
        out += std::wstring(field.name) + L"=" + values.*field.member + L"\n";
    out += L"key=" + widen(security_key_digits()) + L"\n";
    const std::string bytes = narrow(out);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
    return 0;
}
