#include <gtest/gtest.h>

#include <map>
#include <set>

#include "RegistryKey.h"

namespace {

using Value = RegistryKey::Value;

Value binary(std::vector<BYTE> bytes) {
    return Value(REG_BINARY, std::move(bytes));
}

// Every test works below its own key, removed afterwards.
class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = L"Software\\QuillrunTest-" + std::to_wstring(GetCurrentProcessId());
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, base_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override { EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str()), ERROR_SUCCESS); }

    // A key of its own below the base key, with the given values.
    std::wstring make_key(const std::wstring& name, const std::map<std::wstring, Value>& values = {}) {
        RegistryKey key(HKEY_CURRENT_USER);
        const std::wstring path = base_ + L"\\" + name;
        EXPECT_EQ(key.create(path, KEY_ALL_ACCESS), ERROR_SUCCESS);
        for (const auto& [value_name, value] : values)
            EXPECT_EQ(key.set_value(value_name, value), ERROR_SUCCESS);
        return path;
    }

    // A handle that is still open can be queried; a closed one cannot.
    static bool is_open(HKEY handle) {
        return RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    std::wstring base_;
};

TEST_F(RegistryKeyTest, OpenCreateAndCloseKeepTheirState) {
    RegistryKey key(HKEY_CURRENT_USER);
    EXPECT_EQ(key.handle(), HKEY_CURRENT_USER);
    EXPECT_EQ(key.access(), 0u);

    // A failed open still records what was asked for.
    EXPECT_EQ(key.open(base_ + L"\\missing", KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.handle(), nullptr);
    EXPECT_EQ(key.access(), static_cast<REGSAM>(KEY_READ));
    EXPECT_EQ(key.path(), base_ + L"\\missing");

    EXPECT_EQ(key.create(base_ + L"\\a\\b", KEY_ALL_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(key.path(), base_ + L"\\a\\b");
    EXPECT_EQ(key.access(), static_cast<REGSAM>(KEY_ALL_ACCESS));
    EXPECT_EQ(key.open(base_ + L"\\a", KEY_READ), ERROR_SUCCESS);

    // A read-only key refuses writes with the registry's own code.
    EXPECT_EQ(key.set_value(L"v", Value(L"x")), ERROR_ACCESS_DENIED);

    key.close();
    EXPECT_EQ(key.handle(), nullptr);
    EXPECT_EQ(key.access(), 0u);
    EXPECT_EQ(key.path(), L"");
}

TEST_F(RegistryKeyTest, ReopeningClosesTheHeldHandleButNeverTheRoot) {
    make_key(L"one");
    make_key(L"two");
    RegistryKey key(HKEY_CURRENT_USER);
    ASSERT_EQ(key.open(base_ + L"\\one", KEY_READ), ERROR_SUCCESS);
    const HKEY first = key.handle();
    ASSERT_EQ(key.open(base_ + L"\\two", KEY_READ), ERROR_SUCCESS);
    // A handle value in use is never handed out twice: either the value came
    // back for the new key, or the old handle must be dead.
    EXPECT_TRUE(key.handle() == first || !is_open(first));
    EXPECT_TRUE(is_open(key.handle()));

    const HKEY second = key.handle();
    EXPECT_EQ(key.open(base_ + L"\\missing", KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(is_open(second));

    HKEY destroyed_handle = nullptr;
    {
        RegistryKey destroyed(HKEY_CURRENT_USER);
        ASSERT_EQ(destroyed.open(base_ + L"\\one", KEY_READ), ERROR_SUCCESS);
        destroyed_handle = destroyed.handle();
    }
    EXPECT_FALSE(is_open(destroyed_handle));

    RegistryKey at_root(HKEY_CURRENT_USER);
    at_root.close();
    EXPECT_EQ(at_root.handle(), nullptr);
    { RegistryKey destroyed_at_root(HKEY_CURRENT_USER); }
    EXPECT_TRUE(is_open(HKEY_CURRENT_USER));
    RegistryKey again(HKEY_CURRENT_USER);
    EXPECT_EQ(again.open(base_ + L"\\one", KEY_READ), ERROR_SUCCESS);
}

TEST_F(RegistryKeyTest, ValuesRoundTripWithTheirTypeAndBytes) {
    const std::wstring path = make_key(L"values");
    RegistryKey key(HKEY_CURRENT_USER);
    ASSERT_EQ(key.open(path, KEY_ALL_ACCESS), ERROR_SUCCESS);

    std::vector<BYTE> large(100000);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<BYTE>(i * 31 + 7);
    const struct {
        const wchar_t* name;
        Value value;
    } cases[] = {
        {L"text", Value(L"C:\\Program Files\\Quillrun")},
        {L"", Value(L"the default value")},
        {L"empty text", Value(L"")},
        {L"number", Value::from_dword(0xDEADBEEF)},
        {L"no bytes", binary({})},
        {L"large", binary(large)},
        {L"multi", Value(REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(key.set_value(c.name, c.value), ERROR_SUCCESS) << testing::PrintToString(c.name);
        const Value read = key.value(c.name);
        EXPECT_EQ(read.type, c.value.type) << testing::PrintToString(c.name);
        EXPECT_EQ(read.data, c.value.data) << testing::PrintToString(c.name);
    }
    EXPECT_EQ(key.value(L"text").read().text(), L"C:\\Program Files\\Quillrun");
    EXPECT_EQ(Value(L"ab").data.size(), 6u);  // two units and the terminator

    Value none;
    EXPECT_EQ(key.query_value(L"no bytes", none), ERROR_SUCCESS);
    EXPECT_EQ(none.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_TRUE(none.data.empty());

    EXPECT_EQ(key.delete_value(L"text"), ERROR_SUCCESS);
    EXPECT_EQ(key.delete_value(L"text"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, QueryGrowsASmallBufferAndKeepsALargeOne) {
    std::vector<BYTE> bytes(5000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i);
    const std::wstring path = make_key(L"sizes", {{L"blob", binary(bytes)}, {L"short", Value(L"hi")}});
    RegistryKey key(HKEY_CURRENT_USER);
    ASSERT_EQ(key.open(path, KEY_READ), ERROR_SUCCESS);

    // As when the value grew after its size was read: the last call reads it all.
    Value small(REG_NONE, std::vector<BYTE>(4, 0xEE));
    EXPECT_EQ(key.query_value(L"blob", small), ERROR_SUCCESS);
    EXPECT_EQ(small.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(small.data, bytes);

    // A buffer larger than the value keeps its size; the value fills its front.
    Value large(REG_NONE, std::vector<BYTE>(64, 0xEE));
    EXPECT_EQ(key.query_value(L"short", large), ERROR_SUCCESS);
    EXPECT_EQ(large.type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(large.data.size(), 64u);
    EXPECT_EQ(large.text(), L"hi");
}

TEST_F(RegistryKeyTest, FailedQueriesLeaveNoTypeAndNoData) {
    const std::wstring path = make_key(L"q", {{L"present", Value(L"x")}});
    RegistryKey at_root(HKEY_CURRENT_USER);
    Value v;
    EXPECT_NE(at_root.query_value(L"present", v), ERROR_SUCCESS);  // no subkey open
    EXPECT_EQ(v.type, 0u);
    EXPECT_TRUE(v.data.empty());

    RegistryKey key(HKEY_CURRENT_USER);
    ASSERT_EQ(key.open(path, KEY_READ), ERROR_SUCCESS);
    Value missing;
    EXPECT_EQ(key.query_value(L"missing", missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.type, 0u);
    EXPECT_TRUE(missing.data.empty());

    Value filled(REG_SZ, std::vector<BYTE>(8, 1));  // skips the size query
    EXPECT_EQ(key.query_value(L"missing", filled), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(filled.type, 0u);
    EXPECT_TRUE(filled.data.empty());

    const Value through_accessor = key.value(L"missing");
    EXPECT_EQ(through_accessor.type, 0u);
    EXPECT_TRUE(through_accessor.data.empty());

    RegistryKey failed(HKEY_CURRENT_USER);
    failed.open(base_ + L"\\nothing here", KEY_READ);
    EXPECT_NE(failed.query_value(L"present", v), ERROR_SUCCESS);
    EXPECT_TRUE(v.data.empty());
}

TEST_F(RegistryKeyTest, SubkeysAreEnumeratedOnce) {
    const std::wstring path = make_key(L"tree");
    const std::set<std::wstring> names = {L"a", L"Beta", L"a much longer subkey name than the others"};
    for (const auto& n : names) make_key(L"tree\\" + n);
    make_key(L"tree\\a\\grandchild");
    make_key(L"leaf");

    RegistryKey key(HKEY_CURRENT_USER);
    ASSERT_EQ(key.open(path, KEY_READ), ERROR_SUCCESS);
    std::multiset<std::wstring> seen;
    for (auto it = key.subkeys_begin(); it != RegistryKey::SubkeyIterator(); ++it) seen.insert(*it);
    EXPECT_EQ(seen, std::multiset<std::wstring>(names.begin(), names.end()));

    RegistryKey leaf(HKEY_CURRENT_USER);
    ASSERT_EQ(leaf.open(base_ + L"\\leaf", KEY_READ), ERROR_SUCCESS);
    EXPECT_TRUE(leaf.subkeys_begin() == RegistryKey::SubkeyIterator());
    // A key standing at its root yields nothing rather than the root's subkeys.
    EXPECT_TRUE(RegistryKey(HKEY_CURRENT_USER).subkeys_begin() == RegistryKey::SubkeyIterator());
}

TEST_F(RegistryKeyTest, ValuesAreEnumeratedWithTheirData) {
    std::vector<BYTE> big(3000, 0x5A);
    const std::map<std::wstring, Value> values = {
        {L"short", Value(L"s")},  {L"a rather long value name", Value::from_dword(7)},
        {L"big", binary(big)},    {L"zero", binary({})},
        {L"", Value(L"default")},
    };
    const std::wstring path = make_key(L"enum", values);
    RegistryKey key(HKEY_CURRENT_USER);
    ASSERT_EQ(key.open(path, KEY_READ), ERROR_SUCCESS);

    std::map<std::wstring, Value> seen;
    const RegistryKey::ValueIterator end;
    for (auto it = key.values_begin(); it != end; ++it) {
        const auto [name, value] = *it;
        EXPECT_TRUE(seen.emplace(name, value).second) << "twice: " << testing::PrintToString(name);
    }
    EXPECT_EQ(seen, values);

    const std::wstring empty_path = make_key(L"novalues");
    RegistryKey empty(HKEY_CURRENT_USER);
    ASSERT_EQ(empty.open(empty_path, KEY_READ), ERROR_SUCCESS);
    RegistryKey::ValueIterator it = empty.values_begin();
    EXPECT_TRUE(it == end);
    try {
        ++it;
        ADD_FAILURE() << "advancing the end iterator did not throw";
    } catch (const std::wstring& text) {
        EXPECT_EQ(text, L"RegistryKey(501) : ensure: \"k_\" failed");
    }
}

TEST_F(RegistryKeyTest, IteratorsCompareByPosition) {
    const std::wstring path = make_key(L"cmp", {{L"one", Value(L"1")}, {L"two", Value(L"2")}});
    make_key(L"cmp\\x");
    make_key(L"cmp\\y");
    RegistryKey key(HKEY_CURRENT_USER);
    ASSERT_EQ(key.open(path, KEY_READ), ERROR_SUCCESS);

    auto v1 = key.values_begin(), v2 = key.values_begin();
    EXPECT_TRUE(v1 == v2);
    ++v2;
    EXPECT_FALSE(v1 == v2);
    EXPECT_FALSE(v1 == RegistryKey::ValueIterator());
    ++v2;
    EXPECT_TRUE(v2 == RegistryKey::ValueIterator());

    auto s1 = key.subkeys_begin(), s2 = key.subkeys_begin();
    EXPECT_TRUE(s1 == s2);
    ++s2;
    EXPECT_FALSE(s1 == s2);
    ++s2;
    EXPECT_TRUE(s2 == RegistryKey::SubkeyIterator());
    ++s2;  // advancing a subkey end iterator stays at the end
    EXPECT_TRUE(s2 == RegistryKey::SubkeyIterator());
}

TEST_F(RegistryKeyTest, ACopyOwnsItsOwnHandle) {
    const std::wstring path = make_key(L"copy", {{L"v", Value(L"kept")}});
    RegistryKey original(HKEY_CURRENT_USER);
    ASSERT_EQ(original.open(path, KEY_READ), ERROR_SUCCESS);
    {
        RegistryKey copy(original);
        EXPECT_NE(copy.handle(), original.handle());
        EXPECT_EQ(copy.path(), path);
        EXPECT_EQ(copy.access(), static_cast<REGSAM>(KEY_READ));
        EXPECT_EQ(copy.value(L"v").read().text(), L"kept");
        copy.close();
    }
    EXPECT_EQ(original.value(L"v").read().text(), L"kept");

    RegistryKey assigned(HKEY_CURRENT_USER);
    assigned = original;
    EXPECT_EQ(assigned.value(L"v").read().text(), L"kept");
    const HKEY before = assigned.handle();
    auto& self = assigned;
    assigned = self;  // assigning an object to itself changes nothing
    EXPECT_EQ(assigned.handle(), before);
    EXPECT_TRUE(is_open(before));
}

}  // namespace
