#pragma once
// Request ids of the pipe conversations. Every request starts with its id
// (int32); the fields that follow are listed in docs/updater-protocol.md.
#include <cstdint>

namespace IPC {

// Request ids; each request starts with its id as an int32.
enum RequestId : std::int32_t {
    kRequestSetupCompleted = 0,
    kRequestConnect = 3,
    kRequestDisconnect = 4,
    kRequestNotice = 5,
    kRequestErrorReport = 6,
    kRequestInstallerProgress = 12,
};

}  // namespace IPC
