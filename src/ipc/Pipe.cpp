#include "Pipe.h"

#include <versionhelpers.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "text.h"
#include "ipc_texts.h"

namespace IPC {

namespace {

constexpr DWORD kChunkSize = 1024;
constexpr DWORD kBusyWaitMs = 3000;
constexpr DWORD kStopCallTimeoutMs = 10000;

[[noreturn]] void Fail(const wchar_t* text) {
    throw wexception(text);
}

// Process-wide listening state. The lock guards only these two members and
// is never held across a blocking pipe call.
struct ListeningState {
    std::mutex lock;
    HANDLE waiting = nullptr;  // the server instance blocked in ConnectNamedPipe
    bool stop = false;         // set by StopListening, cleared by ResumeListening
};

ListeningState& listening() {
    static ListeningState state;
    return state;
}

}  // namespace

// ---- OutputBuffer ----

void OutputBuffer::Append(const void* data, std::size_t size) {
    try {
        bytes_.append(static_cast<const char*>(data), size);
    } catch (const std::exception&) {
        Fail(texts::kWriteBufferFailed);
    }
}

OutputBuffer& OutputBuffer::WriteInt32(std::int32_t value) {
    std::int32_t type = kTypeInt32;
    Append(&type, 4);
    Append(&value, 4);
    return *this;
}

OutputBuffer& OutputBuffer::WriteString(std::wstring_view text) {
    static_assert(sizeof(wchar_t) == 2, "the wire carries UTF-16 code units");
    if (text.size() > 0x7FFFFFFF) Fail(texts::kWriteBufferFailed);
    std::int32_t type = kTypeString;
    auto count = static_cast<std::int32_t>(text.size());
    Append(&type, 4);
    Append(&count, 4);
    Append(text.data(), text.size() * 2);
    return *this;
}

OutputBuffer& OutputBuffer::WriteInt64(std::int64_t value) {
    std::int32_t type = kTypeInt64;
    Append(&type, 4);
    Append(&value, 8);
    return *this;
}

OutputBuffer& OutputBuffer::WriteUInt32(std::uint32_t value) {
    std::int32_t type = kTypeUInt32;
    Append(&type, 4);
    Append(&value, 4);
    return *this;
}

OutputBuffer& OutputBuffer::WriteBool(bool value) {
    std::int32_t type = kTypeBool;
    unsigned char byte = value ? 1 : 0;
    Append(&type, 4);
    Append(&byte, 1);
    return *this;
}

// ---- InputBuffer ----

void InputBuffer::ReadRaw(void* target, std::size_t size) {
    if (bytes_.size() - position_ < size) {
        position_ = bytes_.size();  // nothing more can be read
        Fail(texts::kInputBufferEnded);
    }
    std::memcpy(target, bytes_.data() + position_, size);
    position_ += size;
    typePending_ = false;
}

void InputBuffer::ExpectType(std::int32_t expected) {
    if (!typePending_) {
        std::int32_t code = 0;
        ReadRaw(&code, 4);
        pendingType_ = code;
    }
    if (pendingType_ != expected) {
        typePending_ = true;
        Fail(texts::kInputBufferType);
    }
    typePending_ = false;
}

std::int32_t InputBuffer::ReadInt32() {
    ExpectType(kTypeInt32);
    std::int32_t value = 0;
    ReadRaw(&value, 4);
    return value;
}

bool InputBuffer::ReadBool() {
    ExpectType(kTypeBool);
    unsigned char byte = 0;
    ReadRaw(&byte, 1);
    return byte != 0;
}

std::wstring InputBuffer::ReadString() {
    ExpectType(kTypeString);
    std::int32_t count = 0;
    ReadRaw(&count, 4);
    // Check the announced size against what arrived before allocating, so a
    // hostile count cannot make us reserve gigabytes.
    if (count < 0 || bytes_.size() - position_ < static_cast<std::size_t>(count) * 2) {
        position_ = bytes_.size();
        Fail(texts::kInputBufferEnded);
    }
    std::wstring text(static_cast<std::size_t>(count), L'\0');
    ReadRaw(text.data(), text.size() * 2);
    return text;
}

// ---- failure texts ----

std::wstring ConnectFailureText(std::wstring_view base, DWORD code) {
    return std::wstring(base) + L" (Error code: " + std::to_wstring(code) + L")";
}

std::wstring FormattedFailureText(std::wstring_view base, DWORD code) {
    std::wstring text = trim(base);
    if (!text.empty() && text.back() == L'.') text.pop_back();
    if (code != 0) text += L" (HRESULT = " + std::to_wstring(code) + L")";
    return text + L".";
}

// ---- AppContainer ----

bool InAppContainer() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    unique_kernel_handle token(raw);
    constexpr auto kAppContainerSidClass = static_cast<TOKEN_INFORMATION_CLASS>(31);
    DWORD size = 0;
    if (GetTokenInformation(token.get(), kAppContainerSidClass, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(void*))
        return false;
    std::vector<unsigned char> info(size, 0);
    if (!GetTokenInformation(token.get(), kAppContainerSidClass, info.data(), size, &size)) return false;
    PSID sid = nullptr;
    std::memcpy(&sid, info.data(), sizeof sid);
    return sid != nullptr;
}

// ---- server security ----

namespace {

struct LocalSid {
    PSID sid = nullptr;
    ~LocalSid() {
        if (sid) FreeSid(sid);
    }
};

// Owner of the descriptor handed to CreateNamedPipeW: the caller (full
// access) and the local Users group (read and write), nothing else.
class ServerSecurity {
public:
    ServerSecurity() { built_ = Build(); }
    SECURITY_DESCRIPTOR* Descriptor() { return built_ ? &descriptor_ : nullptr; }

private:
    bool Build() {
        HANDLE raw = nullptr;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw) &&
            !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
            return false;
        unique_kernel_handle token(raw);
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        if (size < sizeof(TOKEN_USER)) return false;
        userInfo_.assign(size, 0);
        if (!GetTokenInformation(token.get(), TokenUser, userInfo_.data(), size, &size)) return false;
        PSID user = reinterpret_cast<TOKEN_USER*>(userInfo_.data())->User.Sid;

        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0,
                                      0, 0, &users_.sid))
            return false;

        // ACL header and two ACE headers with their masks take 24 bytes.
        DWORD aclSize = GetLengthSid(user) + GetLengthSid(users_.sid) + 24;
        acl_.assign(aclSize, 0);
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        return InitializeAcl(acl, aclSize, ACL_REVISION) &&
               AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, user) &&
               AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ | GENERIC_WRITE, users_.sid) &&
               InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
    }

    bool built_ = false;
    std::vector<unsigned char> userInfo_;
    LocalSid users_;
    std::vector<unsigned char> acl_;  // DWORD-aligned by the allocator
    SECURITY_DESCRIPTOR descriptor_{};
};

void SetMessageReadMode(HANDLE pipe) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
        DWORD code = GetLastError();
        throw wexception(FormattedFailureText(texts::kPipeStateStem, code));
    }
}

}  // namespace

namespace detail {
bool WaitForClient(HANDLE pipe) {
    if (ConnectNamedPipe(pipe, nullptr)) return true;
    return GetLastError() == ERROR_PIPE_CONNECTED;
}
}  // namespace detail

// ---- Pipe ----

Pipe::Pipe(const std::wstring& name, bool client) {
    if (client)
        OpenClient(name);
    else
        CreateServer(name);
}

void Pipe::OpenClient(std::wstring name) {
    if (InAppContainer()) name += L"_EPM";
    auto open = [&] {
        handle_.reset(
            CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    open();
    if (!handle_ && GetLastError() == ERROR_PIPE_BUSY) {
        if (!WaitNamedPipeW(name.c_str(), kBusyWaitMs)) Fail(texts::kPipeBusy);
        open();
    }
    if (!handle_) {
        DWORD code = GetLastError();
        throw wexception(ConnectFailureText(texts::kPipeConnectStem, code));
    }
    SetMessageReadMode(handle_.get());
}

void Pipe::CreateServer(const std::wstring& name) {
    ServerSecurity security;
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = TRUE;
    if (IsWindowsVistaOrGreater()) attributes.lpSecurityDescriptor = security.Descriptor();

    handle_.reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, kChunkSize, kChunkSize, 0, &attributes));
    if (!handle_) {
        DWORD code = GetLastError();
        throw wexception(ConnectFailureText(texts::kPipeConnectStem, code));
    }
    SetMessageReadMode(handle_.get());

    auto& state = listening();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.stop) {
            handle_.reset();
            Fail(texts::kPipeTerminated);
        }
        state.waiting = handle_.get();
    }
    bool connected = detail::WaitForClient(handle_.get());
    DWORD code = GetLastError();
    bool stop = false;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.waiting = nullptr;
        stop = state.stop;
    }
    if (stop) {
        // Close at once: the waker's CallNamedPipeW returns only when this
        // instance goes away.
        handle_.reset();
        Fail(texts::kPipeTerminated);
    }
    if (!connected) {
        handle_.reset();
        throw wexception(FormattedFailureText(texts::kClientConnectStem, code));
    }
}

void Pipe::StopListening(const std::wstring& name) {
    auto& state = listening();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.stop = true;
        if (!state.waiting) return;
    }
    // The message only releases the blocked ConnectNamedPipe; nobody reads it.
    wchar_t message[] = L"Exit";
    char reply[kChunkSize];
    DWORD got = 0;
    CallNamedPipeW(name.c_str(), message, sizeof message, reply, sizeof reply, &got, kStopCallTimeoutMs);
}

void Pipe::ResumeListening() {
    auto& state = listening();
    std::lock_guard<std::mutex> guard(state.lock);
    state.stop = false;
}

bool Pipe::ServerWaiting() {
    auto& state = listening();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.waiting != nullptr;
}

InputBuffer Pipe::Read() {
    std::string bytes;
    char chunk[kChunkSize];
    for (;;) {
        DWORD got = 0;
        BOOL ok = ReadFile(handle_.get(), chunk, kChunkSize, &got, nullptr);
        DWORD code = ok ? 0 : GetLastError();
        bytes.append(chunk, got);
        if (ok) break;
        if (code == ERROR_MORE_DATA) continue;
        if (code == ERROR_BROKEN_PIPE) Fail(texts::kPipeDisconnected);
        throw wexception(texts::kPipeReadErrorPrefix + std::to_wstring(code));
    }
    return InputBuffer(std::move(bytes));
}

void Pipe::Write(const OutputBuffer& buffer) {
    const std::string& bytes = buffer.Bytes();
    DWORD written = 0;
    if (!WriteFile(handle_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        Fail(texts::kPipeWriteFailed);
}

}  // namespace IPC
