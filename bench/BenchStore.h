// The store of a large imported restricted-sites list, shared by the benchmarks.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "registry/store/FileStore.h"

namespace moatgate {

std::string DomainName(int i);
// N domain keys with "*" = 4, one in five with one or two subdomain keys holding
// "http"/"https", and about 1 MB of unrelated settings, as a store file's text.
std::string StoreText(int n);

struct BenchDir {
    std::filesystem::path path;
    BenchDir();
    ~BenchDir();
    std::string Write(const std::string& name, const std::string& text) const;
};

std::unique_ptr<FileStore> Open(const std::string& path);

}  // namespace moatgate
