#include "registry/Registry.h"

#include <charconv>
#include <vector>

namespace moatgate {

namespace {

std::string AsText(const RegValue& value) {
    if (const auto* n = std::get_if<std::int64_t>(&value)) return std::to_string(*n);
    return std::get<std::string>(value);
}

// The number a value stands for, if it has one that fits in 32 bits (signed, or
// unsigned for the values above the signed range).
bool AsNumber(const RegValue& value, std::uint32_t& out) {
    std::int64_t n = 0;
    if (const auto* p = std::get_if<std::int64_t>(&value)) {
        n = *p;
    } else {
        std::string_view s = std::get<std::string>(value);
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        if (!s.empty() && s.front() == '+') s.remove_prefix(1);
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
        if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return false;
    }
    if (n < INT32_MIN || n > static_cast<std::int64_t>(UINT32_MAX)) return false;
    out = static_cast<std::uint32_t>(n);
    return true;
}

}  // namespace

LONG WriteKeyValue(RegistryApi& reg, HKEY key, std::string_view name, std::int32_t type,
                   const RegValue& value) {
    if (type == static_cast<std::int32_t>(REG_SZ) || type == static_cast<std::int32_t>(REG_BINARY)) {
        const std::string text = AsText(value);
        return reg.RegSetValueExA(key, name, 0, static_cast<DWORD>(type),
                                  reinterpret_cast<const unsigned char*>(text.c_str()),
                                  static_cast<DWORD>(text.size()));
    }
    if (type == static_cast<std::int32_t>(REG_DWORD)) {
        std::uint32_t n = 0;
        if (!AsNumber(value, n)) return ERROR_INVALID_PARAMETER;
        const unsigned char bytes[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                        static_cast<unsigned char>(n >> 16),
                                        static_cast<unsigned char>(n >> 24)};
        return reg.RegSetValueExA(key, name, 0, REG_DWORD, bytes, 4);
    }
    return ERROR_SUCCESS;
}

void WriteRegistryValue(RegistryApi& reg, HKEY root, std::string_view path, std::string_view name,
                        const RegValue& value, std::int32_t type) {
    HKEY key = 0;
    reg.RegOpenKeyExA(root, path, 0, KEY_ALL_KEY_RIGHTS, &key);
    WriteKeyValue(reg, key, name, type, value);
    reg.RegCloseKey(key);
}

std::string ReadKeyValueText(RegistryApi& reg, HKEY key, std::string_view name) {
    DWORD type = 0;
    DWORD size = 0;
    if (reg.RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
    if (type == REG_SZ) {
        std::string text(size, '\0');
        if (reg.RegQueryValueExA(key, name, nullptr, &type,
                                 reinterpret_cast<unsigned char*>(text.data()), &size) != ERROR_SUCCESS)
            return {};
        text.resize(size);
        const auto zero = text.find('\0');
        if (zero != std::string::npos) text.resize(zero);
        return text;
    }
    if (type == REG_DWORD) {
        unsigned char b[4] = {0, 0, 0, 0};
        DWORD cb = sizeof b;
        if (reg.RegQueryValueExA(key, name, nullptr, &type, b, &cb) != ERROR_SUCCESS) return {};
        const std::uint32_t n = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                                (static_cast<std::uint32_t>(b[2]) << 16) |
                                (static_cast<std::uint32_t>(b[3]) << 24);
        return std::to_string(n);
    }
    if (type == REG_BINARY) {
        std::vector<unsigned char> b(size);
        if (reg.RegQueryValueExA(key, name, nullptr, &type, b.data(), &size) != ERROR_SUCCESS) return {};
        // An empty value holds no number at all.
        if (size == 0) return {};
        if (size == 1) return std::to_string(b[0]);
        return std::to_string(static_cast<std::int16_t>(b[0] | (b[1] << 8)));
    }
    return {};
}

std::string ReadRegistryValueText(RegistryApi& reg, HKEY root, std::string_view path,
                                  std::string_view name) {
    HKEY key = 0;
    reg.RegOpenKeyA(root, path, &key);
    std::string text = ReadKeyValueText(reg, key, name);
    reg.RegCloseKey(key);
    return text;
}

}  // namespace moatgate
