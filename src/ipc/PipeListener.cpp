#include "PipeListener.h"

#include <memory>

#include "text.h"
#include "wexception.h"
#include "ipc_texts.h"

namespace IPC {

namespace {

// Everything a listener or connection thread uses, owned by that thread.
struct ThreadContext {
    std::wstring name;
    std::wstring componentCodes;
    unique_kernel_handle pipeEvent;
    std::unique_ptr<Pipe> pipe;  // connection threads only
};

HANDLE DuplicateEvent(HANDLE event) {
    HANDLE copy = nullptr;
    if (!event || !DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

DWORD WINAPI ConnectionMain(void* parameter) {
    std::unique_ptr<ThreadContext> context(static_cast<ThreadContext*>(parameter));
    try {
        // A client may send several requests on one connection; it ends when
        // the client closes ("Pipe disconnected") or sends something malformed.
        for (;;) {
            InputBuffer request = context->pipe->Read();
            OutputBuffer reply = HandleRequest(request, context->componentCodes, context->pipeEvent.get());
            context->pipe->Write(reply);
        }
    } catch (...) {
    }
    // Disconnect before the close: a client blocked in ReadFile after a
    // request we do not answer is woken by the disconnect, while Wine does
    // not wake it for the close alone. No reply is lost: the loop ends only
    // after the client left or sent something malformed.
    DisconnectNamedPipe(context->pipe->Handle());
    return 0;
}

DWORD WINAPI ListenerMain(void* parameter) {
    std::unique_ptr<ThreadContext> listener(static_cast<ThreadContext*>(parameter));
    for (;;) {
        auto connection = std::make_unique<ThreadContext>();
        try {
            connection->pipe = std::make_unique<Pipe>(listener->name, false);
            connection->componentCodes = listener->componentCodes;
            connection->pipeEvent.reset(DuplicateEvent(listener->pipeEvent.get()));
        } catch (...) {
            // "The pipe terminated." after StopListener, or any pipe failure.
            break;
        }
        HANDLE thread = CreateThread(nullptr, 0, ConnectionMain, connection.get(), 0, nullptr);
        if (!thread) break;  // the connection's pipe closes with its context
        (void)connection.release();
        CloseHandle(thread);
    }
    return 0;
}

}  // namespace

std::wstring DownloaderPipeName(std::wstring_view componentCodes) {
    return L"\\\\.\\pipe\\qr_downloader_" + std::wstring(componentCodes);
}

OutputBuffer HandleRequest(InputBuffer& request, std::wstring_view componentCodes, HANDLE pipeEvent) {
    OutputBuffer reply;
    if (request.ReadInt32() != kRequestSetupCompleted) return reply;
    std::wstring token = request.ReadString();
    bool matched = iequals(token, componentCodes);
    if (matched && pipeEvent) SetEvent(pipeEvent);
    reply.WriteBool(matched);
    return reply;
}

PipeListener::PipeListener(std::wstring componentCodes, HANDLE pipeEvent)
    : componentCodes_(std::move(componentCodes)), pipeEvent_(pipeEvent) {}

PipeListener::~PipeListener() {
    if (thread_) {
        StopListener();
        ReleaseThread(20000);
    }
}

bool PipeListener::StartListener(std::wstring& errorText, DWORD& errorCode) {
    auto context = std::make_unique<ThreadContext>();
    context->name = DownloaderPipeName(componentCodes_);
    context->componentCodes = componentCodes_;
    context->pipeEvent.reset(DuplicateEvent(pipeEvent_));
    Pipe::ResumeListening();
    HANDLE thread = CreateThread(nullptr, 0, ListenerMain, context.get(), 0, nullptr);
    if (!thread) {
        errorCode = GetLastError();
        errorText = with_error_code(texts::kPipeThreadStem, errorCode);
        return false;
    }
    (void)context.release();
    thread_.reset(thread);
    return true;
}

void PipeListener::StopListener() {
    Pipe::StopListening(DownloaderPipeName(componentCodes_));
}

void PipeListener::ReleaseThread(DWORD timeoutMs) {
    if (!thread_) return;
    if (WaitForSingleObject(thread_.get(), timeoutMs) != WAIT_OBJECT_0) TerminateThread(thread_.get(), 0);
    thread_.reset();
}

}  // namespace IPC
