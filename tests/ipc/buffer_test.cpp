#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "Pipe.h"

namespace {

using IPC::InputBuffer;
using IPC::OutputBuffer;

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

// The failure text of a call, or "" when it succeeded.
std::wstring FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const wexception& e) {
        return e.message();
    }
    return L"";
}

TEST(OutputBuffer, WireBytes) {
    struct Case {
        const char* name;
        std::function<void(OutputBuffer&)> write;
        std::string bytes;
    };
    const Case cases[] = {
        {"int32 3 then \"ab\"", [](OutputBuffer& b) { b.WriteInt32(3).WriteString(L"ab"); },
         Bytes({0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0x61, 0, 0x62, 0})},
        {"negative int32", [](OutputBuffer& b) { b.WriteInt32(-2); },
         Bytes({0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF})},
        {"empty string", [](OutputBuffer& b) { b.WriteString(L""); }, Bytes({2, 0, 0, 0, 0, 0, 0, 0})},
        {"int64", [](OutputBuffer& b) { b.WriteInt64(0x0102030405060708LL); },
         Bytes({3, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1})},
        {"uint32", [](OutputBuffer& b) { b.WriteUInt32(0xA0000001u); }, Bytes({4, 0, 0, 0, 1, 0, 0, 0xA0})},
        {"true", [](OutputBuffer& b) { b.WriteBool(true); }, Bytes({5, 0, 0, 0, 1})},
        {"false", [](OutputBuffer& b) { b.WriteBool(false); }, Bytes({5, 0, 0, 0, 0})},
        {"string with a NUL and a surrogate pair",
         [](OutputBuffer& b) { b.WriteString(std::wstring(L"a\0\xD83D\xDE00", 4)); },
         Bytes({2, 0, 0, 0, 4, 0, 0, 0, 0x61, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE})},
    };
    for (const auto& c : cases) {
        OutputBuffer buffer;
        c.write(buffer);
        EXPECT_EQ(buffer.Bytes(), c.bytes) << c.name;
    }
}

TEST(InputBuffer, ReadsBackWhatWasWritten) {
    const std::wstring odd(L"x\0y\xD83D\xDE00", 5);
    OutputBuffer out;
    out.WriteInt32(-7).WriteString(odd).WriteBool(true).WriteString(L"").WriteBool(false).WriteInt32(
        0x7FFFFFFF);
    InputBuffer in(out.Bytes());
    EXPECT_EQ(in.ReadInt32(), -7);
    EXPECT_EQ(in.ReadString(), odd);
    EXPECT_TRUE(in.ReadBool());
    EXPECT_EQ(in.ReadString(), L"");
    EXPECT_FALSE(in.ReadBool());
    EXPECT_EQ(in.ReadInt32(), 0x7FFFFFFF);
    EXPECT_EQ(in.Position(), out.Bytes().size());
    EXPECT_EQ(FailureOf([&] { in.ReadInt32(); }), L"Unexpected end of input buffer");
}

TEST(InputBuffer, AnyNonZeroByteIsTrue) {
    InputBuffer in(Bytes({5, 0, 0, 0, 0x80}));
    EXPECT_TRUE(in.ReadBool());
}

TEST(InputBuffer, EmptyStringConsumesEightBytes) {
    InputBuffer in(Bytes({2, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 1}));
    EXPECT_EQ(in.ReadString(), L"");
    EXPECT_EQ(in.Position(), 8u);
    EXPECT_TRUE(in.ReadBool());
}

// A mismatching type stays pending: the next read compares the same code
// again instead of reading a new one.
TEST(InputBuffer, PendingTypeIsRetried) {
    InputBuffer in(Bytes({0, 0, 0, 0, 42, 0, 0, 0}));
    EXPECT_EQ(FailureOf([&] { in.ReadBool(); }), L"Unexpected type found in input buffer");
    EXPECT_TRUE(in.TypePending());
    EXPECT_EQ(in.Position(), 4u);
    EXPECT_EQ(FailureOf([&] { in.ReadString(); }), L"Unexpected type found in input buffer");
    EXPECT_EQ(in.Position(), 4u);
    EXPECT_EQ(in.ReadInt32(), 42);
    EXPECT_FALSE(in.TypePending());
    EXPECT_EQ(in.Position(), 8u);
}

TEST(InputBuffer, CopyKeepsPendingType) {
    OutputBuffer out;
    out.WriteString(L"kept").WriteBool(true);
    InputBuffer source(out.Bytes());
    EXPECT_NE(FailureOf([&] { source.ReadInt32(); }), L"");
    InputBuffer copy;
    copy = source;
    EXPECT_TRUE(copy.TypePending());
    EXPECT_EQ(copy.ReadString(), L"kept");
    EXPECT_TRUE(copy.ReadBool());
}

TEST(InputBuffer, MalformedMessages) {
    enum Read { kInt, kString, kBool };
    struct Case {
        const char* name;
        std::string bytes;
        Read read;
        const wchar_t* failure;
    };
    const wchar_t* end = L"Unexpected end of input buffer";
    const wchar_t* type = L"Unexpected type found in input buffer";
    const Case cases[] = {
        {"empty message, int", "", kInt, end},
        {"empty message, string", "", kString, end},
        {"empty message, bool", "", kBool, end},
        {"partial type code", Bytes({0, 0, 0}), kInt, end},
        {"int32 cut short", Bytes({0, 0, 0, 0, 1, 2}), kInt, end},
        {"bool without its byte", Bytes({5, 0, 0, 0}), kBool, end},
        {"string without its count", Bytes({2, 0, 0, 0, 1, 0}), kString, end},
        {"count past the end", Bytes({2, 0, 0, 0, 3, 0, 0, 0, 0x61, 0, 0x62, 0}), kString, end},
        {"odd byte count", Bytes({2, 0, 0, 0, 1, 0, 0, 0, 0x61}), kString, end},
        {"count 2^31-1", Bytes({2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0x61, 0}), kString, end},
        {"negative count", Bytes({2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), kString, end},
        {"unknown type code", Bytes({9, 0, 0, 0, 1, 0, 0, 0}), kInt, type},
        {"type code 1", Bytes({1, 0, 0, 0}), kBool, type},
        {"int64 where int32 is read", Bytes({3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}), kInt, type},
        {"uint32 where bool is read", Bytes({4, 0, 0, 0, 1, 0, 0, 0}), kBool, type},
        {"bool where string is read", Bytes({5, 0, 0, 0, 1}), kString, type},
    };
    for (const auto& c : cases) {
        InputBuffer in(c.bytes);
        std::wstring failure = FailureOf([&] {
            if (c.read == kInt) in.ReadInt32();
            if (c.read == kString) in.ReadString();
            if (c.read == kBool) in.ReadBool();
        });
        EXPECT_EQ(failure, c.failure) << c.name;
    }
}

TEST(InputBuffer, NothingReadableAfterEndOfBuffer) {
    // A string that promises more than arrived, followed by what would be a
    // valid bool if the reader resynchronised on it.
    InputBuffer in(Bytes({2, 0, 0, 0, 9, 0, 0, 0, 5, 0, 0, 0, 1}));
    EXPECT_EQ(FailureOf([&] { in.ReadString(); }), L"Unexpected end of input buffer");
    EXPECT_EQ(FailureOf([&] { in.ReadBool(); }), L"Unexpected end of input buffer");
}

TEST(PipeFailureTexts, Compositions) {
    EXPECT_EQ(IPC::ConnectFailureText(L"Unable to connect to a named pipe", 2),
              L"Unable to connect to a named pipe (Error code: 2)");
    EXPECT_EQ(IPC::ConnectFailureText(L"Unable to connect to a named pipe", 0),
              L"Unable to connect to a named pipe (Error code: 0)");
    struct Case {
        const wchar_t* base;
        DWORD code;
        const wchar_t* text;
    };
    const Case cases[] = {
        {L"Client failed to connect", 232, L"Client failed to connect (HRESULT = 232)."},
        {L"SetNamedPipeHandleState failed", 0, L"SetNamedPipeHandleState failed."},
        {L"  Padded base.\r\n", 5, L"Padded base (HRESULT = 5)."},
        {L"Two stops..", 0, L"Two stops.."},
    };
    for (const auto& c : cases) EXPECT_EQ(IPC::FormattedFailureText(c.base, c.code), c.text) << c.base;
}

}  // namespace
