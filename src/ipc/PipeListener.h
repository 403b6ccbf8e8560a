#pragma once
// The downloader pipe: while the prerequisites setup runs, a listener thread
// accepts its connections, one thread per client, and answers SetupCompleted.
#include <windows.h>

#include <string>
#include <string_view>

#include "Pipe.h"
#include "Protocol.h"
#include "unique_handle.h"

namespace IPC {

// "\\.\pipe\qr_downloader_" followed by the componentCodes setting.
std::wstring DownloaderPipeName(std::wstring_view componentCodes);

// Answers one request on the downloader pipe. SetupCompleted (id 0) whose
// token equals componentCodes in any case sets pipeEvent and answers true,
// otherwise false; any other id gets an empty reply. A malformed request
// throws, which closes that connection.
OutputBuffer HandleRequest(InputBuffer& request, std::wstring_view componentCodes, HANDLE pipeEvent);

class PipeListener {
public:
    // pipeEvent stays owned by the caller; each connection works on its own
    // duplicate, so a late connection never touches a closed handle.
    PipeListener(std::wstring componentCodes, HANDLE pipeEvent);
    PipeListener(const PipeListener&) = delete;
    PipeListener& operator=(const PipeListener&) = delete;
    // Stops the listener and releases its thread (see ReleaseThread).
    ~PipeListener();

    // Starts the listener thread. On failure returns false with
    // "Failed to start the pipe thread. Error: %d." (or without the code).
    bool StartListener(std::wstring& errorText, DWORD& errorCode);
    // Wakes the waiting listener and makes it end.
    void StopListener();
    // Waits up to timeoutMs for the listener thread, ends it if it still
    // runs, and closes its handle.
    void ReleaseThread(DWORD timeoutMs);
    HANDLE ThreadHandle() const { return thread_.get(); }

private:
    std::wstring componentCodes_;
    HANDLE pipeEvent_;
    unique_kernel_handle thread_;
};

}  // namespace IPC
