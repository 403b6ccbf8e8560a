#pragma once
// What each deployment setting accepts when a publisher stamps it.
#include <optional>
#include <string>
#include <string_view>

#include "settings.h"

// The setting called `name` (case-insensitive), or nullptr.
const SettingField* find_setting(std::wstring_view name);

// Why `value` is not acceptable for `field`, or nullopt when it is. An empty
// value is always acceptable: it removes the string from the table.
std::optional<std::wstring> check_setting_value(const SettingField& field, std::wstring_view value);

// The longest string a string table can hold.
inline constexpr size_t kMaxStringLength = 65535;

// Why `digits` is not a security key (40 hexadecimal digits), or nullopt.
std::optional<std::wstring> check_key_digits(std::wstring_view digits);
