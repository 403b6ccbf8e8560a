// Texts the pipe and updater links report. Tests compare them exactly.
#pragma once

namespace texts {

// Installer progress shown before the installer reports its own text.
inline constexpr wchar_t kPleaseWait[] = L"Please wait...";

// Message buffers.
inline constexpr wchar_t kWriteBufferFailed[] = L"Unexpected error writing to output buffer";
inline constexpr wchar_t kInputBufferEnded[] = L"Unexpected end of input buffer";
inline constexpr wchar_t kInputBufferType[] = L"Unexpected type found in input buffer";

// Pipe connections; the stems get their error code appended.
inline constexpr wchar_t kPipeStateStem[] = L"SetNamedPipeHandleState failed";
inline constexpr wchar_t kPipeBusy[] = L"Timeout while trying to connect to a named pipe, pipe is busy";
inline constexpr wchar_t kPipeConnectStem[] = L"Unable to connect to a named pipe";
inline constexpr wchar_t kClientConnectStem[] = L"Client failed to connect";
inline constexpr wchar_t kPipeOpenFailed[] = L"Unable to open named pipe.";
inline constexpr wchar_t kPipeThreadStem[] = L"Failed to start the pipe thread";
inline constexpr wchar_t kUpdaterConnectFailed[] = L"Failed to connect to the updater process.";

// Pipe traffic.
inline constexpr wchar_t kPipeTerminated[] = L"The pipe terminated.";
inline constexpr wchar_t kPipeDisconnected[] = L"Pipe disconnected";
inline constexpr wchar_t kPipeReadErrorPrefix[] = L"Error reading from pipe: ";
inline constexpr wchar_t kPipeWriteFailed[] = L"Failed to write to pipe";

}  // namespace texts
