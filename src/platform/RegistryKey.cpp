#include "RegistryKey.h"

#include <cstring>

RegistryKey::Value::Value(const std::wstring& text) : type(REG_SZ) {
    data.resize((text.size() + 1) * sizeof(wchar_t));
    std::memcpy(data.data(), text.c_str(), data.size());
}

RegistryKey::Value RegistryKey::Value::from_dword(DWORD number) {
    Value v;
    v.type = REG_DWORD;
    v.data.resize(sizeof number);
    std::memcpy(v.data.data(), &number, sizeof number);
    return v;
}

std::wstring RegistryKey::Value::text() const {
    std::wstring out(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(out.data(), data.data(), out.size() * sizeof(wchar_t));
    const size_t end = out.find(L'\0');
    if (end != std::wstring::npos) out.resize(end);
    return out;
}

RegistryKey::Value RegistryKey::ValueAccessor::read() const {
    Value v;
    key_.query_value(name_, v);
    return v;
}

RegistryKey::RegistryKey(const RegistryKey& other)
    : root_(other.root_), handle_(nullptr), access_(other.access_), path_(other.path_) {
    if (RegOpenKeyExW(root_, path_.c_str(), 0, access_, &handle_) != ERROR_SUCCESS) handle_ = nullptr;
}

RegistryKey& RegistryKey::operator=(const RegistryKey& other) {
    if (this == &other) return *this;
    release_handle();
    root_ = other.root_;
    access_ = other.access_;
    path_ = other.path_;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, access_, &handle_) != ERROR_SUCCESS) handle_ = nullptr;
    return *this;
}

RegistryKey::~RegistryKey() {
    release_handle();
}

void RegistryKey::release_handle() noexcept {
    // Predefined root keys are never closed.
    if (handle_ && handle_ != root_) RegCloseKey(handle_);
    handle_ = nullptr;
}

LONG RegistryKey::open(const std::wstring& path, REGSAM access) {
    release_handle();
    access_ = access;
    path_ = path;
    const LONG result = RegOpenKeyExW(root_, path.c_str(), 0, access, &handle_);
    if (result != ERROR_SUCCESS) handle_ = nullptr;
    return result;
}

LONG RegistryKey::create(const std::wstring& path, REGSAM access) {
    release_handle();
    access_ = access;
    path_ = path;
    wchar_t no_class[] = L"";
    const LONG result = RegCreateKeyExW(root_, path.c_str(), 0, no_class, REG_OPTION_NON_VOLATILE, access,
                                        nullptr, &handle_, nullptr);
    if (result != ERROR_SUCCESS) handle_ = nullptr;
    return result;
}

void RegistryKey::close() noexcept {
    if (!handle_) return;
    release_handle();
    access_ = 0;
    path_.clear();
}

LONG RegistryKey::query_value(const std::wstring& name, Value& record) const {
    auto fail = [&record](LONG code) {
        record.type = 0;
        record.data.clear();
        return code;
    };
    if (record.data.empty()) {
        // Size query. At the root there is no key of ours to read from.
        HKEY h = handle_ == root_ ? nullptr : handle_;
        DWORD size = 0;
        const LONG result = RegQueryValueExW(h, name.c_str(), nullptr, &record.type, nullptr, &size);
        if (result != ERROR_SUCCESS) return fail(result);
        record.data.assign(size, 0);
    }
    DWORD size = static_cast<DWORD>(record.data.size());
    LONG result = RegQueryValueExW(handle_, name.c_str(), nullptr, &record.type,
                                   record.data.empty() ? nullptr : record.data.data(), &size);
    if (result != ERROR_MORE_DATA && record.data.size() >= size) {
        return result == ERROR_SUCCESS ? result : fail(result);
    }
    // The value grew since the size query (or the record was too small).
    record.data.resize(size);
    size = static_cast<DWORD>(record.data.size());
    result = RegQueryValueExW(handle_, name.c_str(), nullptr, &record.type,
                              record.data.empty() ? nullptr : record.data.data(), &size);
    return result == ERROR_SUCCESS ? result : fail(result);
}

LONG RegistryKey::set_value(const std::wstring& name, const Value& record) const {
    return RegSetValueExW(handle_, name.c_str(), 0, record.type,
                          record.data.empty() ? nullptr : record.data.data(),
                          static_cast<DWORD>(record.data.size()));
}

LONG RegistryKey::delete_value(const std::wstring& name) const {
    return RegDeleteValueW(handle_, name.c_str());
}

RegistryKey::SubkeyIterator::SubkeyIterator(HKEY handle) {
    DWORD count = 0, longest = 0;
    if (!handle ||
        RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        count == 0) {
        return;
    }
    handle_ = handle;
    name_length_ = longest + 1;
    name_.resize(name_length_);
    DWORD length = name_length_;
    if (RegEnumKeyExW(handle_, 0, name_.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
        make_end();
        return;
    }
    name_.resize(length);
}

RegistryKey::SubkeyIterator& RegistryKey::SubkeyIterator::operator++() {
    if (!handle_) return *this;
    ++index_;
    name_.resize(name_length_);
    DWORD length = name_length_;
    if (RegEnumKeyExW(handle_, index_, name_.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
        make_end();
    } else {
        name_.resize(length);
    }
    return *this;
}

void RegistryKey::SubkeyIterator::make_end() {
    handle_ = nullptr;
    index_ = 0;
    name_length_ = 0;
    name_.clear();
}

bool RegistryKey::SubkeyIterator::operator==(const SubkeyIterator& other) const {
    if (!handle_ || !other.handle_) return !handle_ && !other.handle_;
    return handle_ == other.handle_ && index_ == other.index_ && name_ == other.name_;
}

RegistryKey::ValueIterator::ValueIterator(HKEY handle) {
    DWORD count = 0, longest_name = 0, largest_data = 0;
    if (!handle ||
        RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest_name,
                         &largest_data, nullptr, nullptr) != ERROR_SUCCESS ||
        count == 0) {
        return;
    }
    k_ = handle;
    name_length_ = longest_name + 1;
    data_length_ = largest_data;
    if (enumerate() != ERROR_SUCCESS) make_end();
}

LONG RegistryKey::ValueIterator::enumerate() {
    // The buffers are sized once from the key information and reused.
    name_.resize(name_length_);
    value_.data.resize(data_length_);
    DWORD name_length = name_length_;
    DWORD data_length = data_length_;
    const LONG result = RegEnumValueW(k_, index_, name_.data(), &name_length, nullptr, &value_.type,
                                      value_.data.empty() ? nullptr : value_.data.data(), &data_length);
    if (result == ERROR_SUCCESS) {
        name_.resize(name_length);
        value_.data.resize(data_length);
    }
    return result;
}

RegistryKey::ValueIterator& RegistryKey::ValueIterator::operator++() {
    if (!k_) throw std::wstring(L"RegistryKey(501) : ensure: \"k_\" failed");
    ++index_;
    if (enumerate() != ERROR_SUCCESS) make_end();
    return *this;
}

void RegistryKey::ValueIterator::make_end() {
    k_ = nullptr;
    index_ = 0;
    name_length_ = 0;
    data_length_ = 0;
    name_.clear();
    value_ = Value();
}

bool RegistryKey::ValueIterator::operator==(const ValueIterator& other) const {
    if (!k_ || !other.k_) return !k_ && !other.k_;
    return k_ == other.k_ && index_ == other.index_ && name_ == other.name_ && value_ == other.value_;
}
