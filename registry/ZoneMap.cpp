#include "registry/ZoneMap.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "registry/SettingsKeys.h"
#include "registry/store/Enumeration.h"

namespace moatgate {

namespace {

int FirstByte(const std::string& data) { return static_cast<unsigned char>(data[0]); }

std::string ShownText(const std::string& valueName) {
    return valueName == kAllProtocolsValue ? std::string(kAllProtocolsText) : valueName;
}

}  // namespace

std::string ZoneMapFillPath() { return std::string(kZoneMapKey) + "\\"; }

LONG CreateSiteKey(RegistryApi& reg, std::string_view path) {
    HKEY key = 0;
    DWORD disposition = 0;
    const LONG status = reg.RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, "REG_DWORD", REG_OPTION_NON_VOLATILE,
                                            KEY_ALL_KEY_RIGHTS, nullptr, &key, &disposition);
    reg.RegCloseKey(key);
    return status;
}

void FillSiteList(RegistryApi& reg, HKEY root, std::string_view basePath, SiteList& list,
                  const std::function<void()>& letEventsRun) {
    // One consistent reading of the store for the whole fill.
    StoreScope scope(reg, false);
    std::string name, data, path;  // reused: one buffer each for the whole fill

    list.SetSorted(false);
    HKEY baseKey = 0;
    HKEY key = 0;
    if (reg.RegOpenKeyA(root, basePath, &baseKey) == ERROR_SUCCESS) {
        // Domains: every name first, as the store has them now. The base key stays
        // open so that the site keys below are found from it rather than from the
        // root: the same keys, a shorter search.
        std::vector<std::string> domains = SubkeyNames(reg, baseKey);
        // Most lists have well under two rows a domain: room for them at once.
        list.Reserve(2 * domains.size());

        // The further steps are taken for a few domains at a time, while their keys
        // and rows are at hand, rather than each over the whole list: in a list of
        // many thousand domains, a step over all of them finds every key and row gone
        // from the processor's cache. The domains are taken in the list's order,
        // those whose names it cannot tell apart (two keys' names may read the same)
        // together and in the store's order. Within such a group the steps keep their
        // order and each walks only the rows there when it began, so the group's rows
        // come in the order that whole-list steps give them, and the list comes out
        // sorted on the domain column already.
        std::vector<std::uint32_t> byName(domains.size());
        std::iota(byName.begin(), byName.end(), 0u);
        const auto nameLess = [&](std::uint32_t a, std::uint32_t b) {
            return CompareSiteText(domains[a], domains[b]) < 0;
        };
        // Mostly the store's order is the list's, and no two names read the same.
        bool inOrder = true, sameNames = false;
        for (std::size_t i = 1; i < domains.size() && inOrder; ++i) {
            const int c = CompareSiteText(domains[i - 1], domains[i]);
            inOrder = c <= 0;
            sameNames = sameNames || c == 0;
        }
        if (!inOrder) {
            std::stable_sort(byName.begin(), byName.end(), nameLess);
            sameNames = true;  // not looked for: each group is found below
        }
        for (std::size_t next = 0; next < byName.size();) {
            std::size_t end = next + 1;
            while (sameNames && end < byName.size() && !nameLess(byName[next], byName[end])) ++end;
            const std::size_t first = list.Count() + 1;  // the group's first domain row
            for (; next < end; ++next) {
                SiteRow row;
                row.domain = std::move(domains[byName[next]]);
                row.tag = kDomainRowTag;
                list.Add(std::move(row));
            }
            const std::size_t domainRows = list.Count();

            // Subdomains: the first becomes the domain's own row, further ones get rows.
            for (std::size_t r = first; r <= domainRows; ++r) {
                path.assign(list.Item(r).domain).append("\\");
                if (reg.RegOpenKeyA(baseKey, path, &key) != ERROR_SUCCESS) continue;
                if (SubkeyAt(reg, key, 0, name)) {
                    list.Item(r).subdomain = name;
                    for (DWORD i = 1; SubkeyAt(reg, key, i, name); ++i) {
                        SiteRow row;
                        row.subdomain = name;
                        row.domain = path.substr(0, path.size() - 1);
                        list.Add(std::move(row));
                    }
                }
                reg.RegCloseKey(key);
            }

            // Values: the first fills the row, further ones get rows of their own.
            for (std::size_t r = first, rows = list.Count(); r <= rows; ++r) {
                const SiteRow& item = list.Item(r);
                path.assign(item.domain).append("\\").append(item.subdomain);
                if (reg.RegOpenKeyA(baseKey, path, &key) != ERROR_SUCCESS) continue;
                if (ValueAt(reg, key, 0, name, data) && name != kHiddenValueName && !data.empty()) {
                    SiteRow& row = list.Item(r);
                    row.text = ShownText(name);
                    row.icon = FirstByte(data);
                }
                for (DWORD i = 1;; ++i) {
                    if (letEventsRun) letEventsRun();
                    if (!ValueAt(reg, key, i, name, data)) break;
                    if (name.empty() || name == kHiddenValueName) continue;
                    SiteRow row;
                    row.domain = list.Item(r).domain;
                    row.subdomain = list.Item(r).subdomain;
                    if (!data.empty()) {
                        row.text = ShownText(name);
                        row.icon = FirstByte(data);
                    }
                    list.Add(std::move(row));
                }
                reg.RegCloseKey(key);
            }

            // The all-protocol value of a domain whose own row became a subdomain row
            // would otherwise not be seen at all. The group's domain rows are the
            // rows it made with the domain tag.
            for (std::size_t r = first; r <= domainRows; ++r) {
                if (list.Item(r).text == kAllProtocolsText) continue;
                path.assign(list.Item(r).domain);
                if (reg.RegOpenKeyA(baseKey, path, &key) != ERROR_SUCCESS) continue;
                for (DWORD i = 0; ValueAt(reg, key, i, name, data); ++i) {
                    if (name != kAllProtocolsValue || data.empty()) continue;
                    SiteRow row;
                    row.text = std::string(kAllProtocolsText);
                    row.domain = path;
                    row.icon = FirstByte(data);
                    list.Add(std::move(row));
                }
                reg.RegCloseKey(key);
            }
        }
        reg.RegCloseKey(baseKey);
    }

    // Sorted on the domain column, in the order last chosen.
    list.SetSortKey(SiteColumn::Domain);
    list.SetSorted(true);
}

}  // namespace moatgate
