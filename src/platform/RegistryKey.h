#pragma once
// Registry key wrapper: one open subkey below a fixed root, values read with
// the registry's two-step size protocol, forward iterators over subkeys and
// values. Result codes are returned as they come from the registry.
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

class RegistryKey {
public:
    // One registry value: its type code and its bytes exactly as stored.
    struct Value {
        DWORD type = 0;
        std::vector<BYTE> data;

        Value() = default;
        Value(DWORD value_type, std::vector<BYTE> bytes) : type(value_type), data(std::move(bytes)) {}
        // REG_SZ: the UTF-16 units of the text and one terminating zero.
        explicit Value(const std::wstring& text);
        static Value from_dword(DWORD number);

        // The data read as UTF-16 text, up to the first zero unit.
        std::wstring text() const;
        bool operator==(const Value&) const = default;
    };

    // A named value of a key; reading it queries the registry.
    class ValueAccessor {
    public:
        ValueAccessor(const RegistryKey& key, std::wstring name) : key_(key), name_(std::move(name)) {}
        // Type 0 and no data when the value cannot be read.
        Value read() const;
        operator Value() const { return read(); }

    private:
        const RegistryKey& key_;
        std::wstring name_;
    };

    // Enumerates the subkeys of a handle it does not own.
    class SubkeyIterator {
    public:
        SubkeyIterator() = default;  // the end
        explicit SubkeyIterator(HKEY handle);
        SubkeyIterator& operator++();
        const std::wstring& operator*() const { return name_; }
        const std::wstring* operator->() const { return &name_; }
        bool operator==(const SubkeyIterator& other) const;

    private:
        void make_end();

        HKEY handle_ = nullptr;
        DWORD index_ = 0;
        DWORD name_length_ = 0;  // longest subkey name + 1, in characters
        std::wstring name_;
    };

    // Enumerates the values of a handle it does not own. Advancing past the
    // end throws a std::wstring: the loops compare with the end first, so
    // that is a programming error.
    class ValueIterator {
    public:
        ValueIterator() = default;  // the end
        explicit ValueIterator(HKEY handle);
        ValueIterator& operator++();
        std::pair<std::wstring, Value> operator*() const { return {name_, value_}; }
        bool operator==(const ValueIterator& other) const;

    private:
        LONG enumerate();
        void make_end();

        HKEY k_ = nullptr;
        DWORD index_ = 0;
        DWORD name_length_ = 0;  // longest value name + 1, in characters
        DWORD data_length_ = 0;  // largest value data, in bytes
        std::wstring name_;
        Value value_;
    };

    explicit RegistryKey(HKEY root) noexcept : root_(root), handle_(root) {}
    // The copy opens its own handle on the same root, path and access.
    RegistryKey(const RegistryKey& other);
    RegistryKey& operator=(const RegistryKey& other);
    ~RegistryKey();

    // Opens (or creates) root\path, closing the subkey held before. Access and
    // path are recorded whatever the result.
    LONG open(const std::wstring& path, REGSAM access);
    LONG create(const std::wstring& path, REGSAM access);
    // Closes the held subkey; the root itself is never closed.
    void close() noexcept;

    // Reads a value into record. An empty record is sized by a first query;
    // a record with data starts with its present size and grows when needed.
    // On failure the record holds type 0 and no data.
    LONG query_value(const std::wstring& name, Value& record) const;
    ValueAccessor value(const std::wstring& name) const { return ValueAccessor(*this, name); }
    LONG set_value(const std::wstring& name, const Value& record) const;
    LONG delete_value(const std::wstring& name) const;

    HKEY root() const noexcept { return root_; }
    // The open subkey; the root while none is open; null after a close or a failed open.
    HKEY handle() const noexcept { return handle_; }
    REGSAM access() const noexcept { return access_; }
    const std::wstring& path() const noexcept { return path_; }

    // Iteration over the open subkey (a key standing at its root gives an
    // empty range). The key must outlive its iterators.
    SubkeyIterator subkeys_begin() const { return SubkeyIterator(iteration_handle()); }
    ValueIterator values_begin() const { return ValueIterator(iteration_handle()); }

private:
    HKEY iteration_handle() const noexcept { return handle_ == root_ ? nullptr : handle_; }
    void release_handle() noexcept;

    HKEY root_;
    HKEY handle_;
    REGSAM access_ = 0;
    std::wstring path_;
};
