#pragma once
// Typed message buffers and one end of a message-mode named pipe.
//
// A message is a flat run of values, each a little-endian int32 type code
// followed by its payload (int32 0, UTF-16 string 2, int64 3, uint32 4,
// bool 5). There is no header: the pipe message boundary is the message.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "unique_handle.h"
#include "wexception.h"

namespace IPC {

// Wire type codes.
enum TypeCode : std::int32_t {
    kTypeInt32 = 0,
    kTypeString = 2,
    kTypeInt64 = 3,
    kTypeUInt32 = 4,
    kTypeBool = 5,
};

// Appends typed values; every write returns the buffer so writes chain.
class OutputBuffer {
public:
    OutputBuffer& WriteInt32(std::int32_t value);
    OutputBuffer& WriteString(std::wstring_view text);
    OutputBuffer& WriteInt64(std::int64_t value);
    OutputBuffer& WriteUInt32(std::uint32_t value);
    OutputBuffer& WriteBool(bool value);

    // The accumulated message, sent whole by Pipe::Write.
    const std::string& Bytes() const noexcept { return bytes_; }

private:
    void Append(const void* data, std::size_t size);
    std::string bytes_;
};

// Reads typed values from the bytes of one received message, front to back.
// A read whose type differs throws and keeps that type pending, so the
// caller may retry the same value with another expected type.
class InputBuffer {
public:
    InputBuffer() = default;
    explicit InputBuffer(std::string bytes) : bytes_(std::move(bytes)) {}

    std::int32_t ReadInt32();
    std::wstring ReadString();
    bool ReadBool();

    std::size_t Position() const noexcept { return position_; }
    std::size_t Size() const noexcept { return bytes_.size(); }
    bool TypePending() const noexcept { return typePending_; }

private:
    void ExpectType(std::int32_t expected);
    void ReadRaw(void* target, std::size_t size);

    std::string bytes_;
    std::size_t position_ = 0;
    std::int32_t pendingType_ = 0;
    bool typePending_ = false;
};

// One end of a named pipe in message mode. Created on the heap; the
// destructor closes the handle.
class Pipe {
public:
    // client = true opens an existing pipe (appending "_EPM" inside an
    // AppContainer); client = false creates a server instance and returns
    // only once a client connected. Throws wexception.
    Pipe(const std::wstring& name, bool client);
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    // Receives one whole message, reassembled from 1024-byte chunks.
    InputBuffer Read();
    // Sends the buffer as one message.
    void Write(const OutputBuffer& buffer);

    HANDLE Handle() const noexcept { return handle_.get(); }

    // Wakes a server constructor blocked on `name` and makes it fail with
    // "The pipe terminated.". The request stays in force until
    // ResumeListening, so a listener between two instances stops too.
    static void StopListening(const std::wstring& name);
    // Clears a stop request; a listener calls it before its first instance.
    static void ResumeListening();
    // True while a server constructor waits for a client (for tests and
    // for the listener's owner).
    static bool ServerWaiting();

private:
    void OpenClient(std::wstring name);
    void CreateServer(const std::wstring& name);

    unique_file handle_;
};

// True when the process token runs inside an AppContainer.
bool InAppContainer();

// Failure texts of the pipe layer.
// "<base> (Error code: <code>)"
std::wstring ConnectFailureText(std::wstring_view base, DWORD code);
// "<base trimmed, one final full stop dropped> (HRESULT = <code>)." or "<base>."
std::wstring FormattedFailureText(std::wstring_view base, DWORD code);

namespace detail {
// Waits for a client on a fresh server instance. A client that connected
// between CreateNamedPipeW and this call (ERROR_PIPE_CONNECTED) counts as
// connected. Returns false with the last error set otherwise.
bool WaitForClient(HANDLE pipe);
}  // namespace detail

}  // namespace IPC
