#include "registry/SiteEdits.h"

#include "registry/Registry.h"
#include "registry/SettingsKeys.h"
#include "registry/store/Enumeration.h"

namespace moatgate {

namespace {

const SiteRow* FirstSelected(const SiteList& list) {
    const std::size_t first = FirstSelectedRow(list);
    return first <= list.Count() ? &list.Item(first) : nullptr;
}

std::string DomainKey(const std::string& domain) { return std::string(kZoneMapKey) + "\\" + domain; }

// Deletes the key when the store shows it holds neither values nor subkeys.
bool DeleteIfEmpty(RegistryApi& reg, const std::string& path) {
    HKEY key = 0;
    if (reg.RegOpenKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS) return false;
    std::string name, data;
    const bool empty = !SubkeyAt(reg, key, 0, name) && !ValueAt(reg, key, 0, name, data);
    reg.RegCloseKey(key);
    return empty && reg.RegDeleteKeyA(HKEY_CURRENT_USER, path) == ERROR_SUCCESS;
}

}  // namespace

std::optional<std::string> SelectedSiteKeyPath(const SiteList& list) {
    const SiteRow* row = FirstSelected(list);
    if (!row) return std::nullopt;
    if (row->subdomain.empty() && row->text == kAllProtocolsText) return DomainKey(row->domain);
    return DomainKey(row->domain) + "\\" + row->subdomain;
}

std::optional<std::string> SelectedSiteValueName(const SiteList& list) {
    const SiteRow* row = FirstSelected(list);
    if (!row) return std::nullopt;
    return row->text == kAllProtocolsText ? std::string(kAllProtocolsValue) : row->text;
}

void AssignZone(RegistryApi& reg, const SiteList& list, ZoneNumber zone) {
    if (list.Count() < 1) return;
    const auto path = SelectedSiteKeyPath(list);
    const auto name = SelectedSiteValueName(list);
    if (!path || !name) return;
    WriteRegistryValue(reg, HKEY_CURRENT_USER, *path, *name, static_cast<std::int64_t>(zone), REG_DWORD);
}

void DeleteSelectedValue(RegistryApi& reg, const SiteList& list) {
    if (list.Count() < 1) return;
    const auto path = SelectedSiteKeyPath(list);
    if (!path) return;
    HKEY key = 0;
    if (reg.RegOpenKeyA(HKEY_CURRENT_USER, *path, &key) != ERROR_SUCCESS) return;
    reg.RegDeleteValueA(key, *SelectedSiteValueName(list));
    reg.RegCloseKey(key);
}

std::size_t SweepEmptyKeys(RegistryApi& reg, const SiteList& rows) {
    StoreScope change(reg, true);
    std::size_t removed = 0;
    for (std::size_t r = 1, count = rows.Count(); r <= count; ++r) {
        const SiteRow& row = rows.Item(r);
        if (!row.text.empty()) continue;
        if (!row.subdomain.empty() && DeleteIfEmpty(reg, DomainKey(row.domain) + "\\" + row.subdomain)) ++removed;
        // The domain key goes too once its last subdomain key has gone.
        if (DeleteIfEmpty(reg, DomainKey(row.domain))) ++removed;
    }
    if (change.End() != ERROR_SUCCESS) return 0;
    return removed;
}

}  // namespace moatgate
