// A minimal downloader in updater mode, for the fake updater's /launch: it
// reads the updater switches, connects, reports two steps and says goodbye,
// using the product's conversation code. Exit codes: 0 the run went through,
// 10 the updater refused the connection, 11 the updater refused a notice,
// 12 the switches do not select updater mode.
#include <windows.h>

#include <map>
#include <string>

#include "UpdaterConversation.h"

namespace {

class Host : public IPC::UpdaterHost {
public:
    bool UpdaterMode() const override { return true; }
    HWND ProgressWindow() const override { return nullptr; }
    void NoticeRefused() override {}
    void RelaunchAnswered(bool) override {}
    void ShutdownBlockReasonArrived() override {}
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::map<std::wstring, std::wstring> switches;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        std::size_t equals = arg.find(L'=');
        if (arg.size() > 1 && arg[0] == L'/' && equals != std::wstring::npos)
            switches[arg.substr(1, equals - 1)] = arg.substr(equals + 1);
    }
    const std::wstring path = switches[L"updaterpath"], pipe = switches[L"pipename"],
                       product = switches[L"productdir"];
    if (path.empty() || pipe.empty() || product.empty()) return 12;

    Host host;
    IPC::UpdaterClient client(host);
    if (!client.ConnectToUpdater(path, std::wcstoul(switches[L"updaterpid"].c_str(), nullptr, 10), L"",
                                 product, L"\\\\.\\pipe\\" + pipe, L""))
        return 10;
    int result = 0;
    if (!client.UpdaterNotice(0x1002, product + L"\\version_info.xml", 0, 0, 5, 1, false) ||
        !client.UpdaterNotice(0x1003, product + L"\\setup.exe", 0, 0, 5, 4, true)) {
        client.ReportError(L"", 1602);
        result = 11;
    }
    client.DisconnectFromUpdater();
    return result;
}
