// Helpers for the hive tests: test data, peer tools, tree comparison.
#pragma once

#include "platform/hive/HiveTree.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vt::hive::test
{

std::filesystem::path testdata();
std::vector<uint8_t> readBytes(const std::filesystem::path &p);
void writeBytes(const std::filesystem::path &p, const std::vector<uint8_t> &bytes);

// Runs a shell command; returns its exit status and standard output.
std::pair<int, std::string> run(const std::string &cmd);
std::string quote(const std::string &s);

// A fresh directory removed when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    std::filesystem::path path;
};

// The first difference between two trees ("" when equal): names, classes,
// times, flags, security descriptor bytes, values and their order.
std::string treeDiff(const Key &a, const Key &b, const std::string &path = "");

size_t countKeys(const Key &k);
size_t countValues(const Key &k);

// FILETIME as "YYYY-MM-DD HH:MM:SS" (UTC), as reglookup prints it.
std::string filetimeText(uint64_t ft);

// Name bytes as stored in the hive: Latin-1 when compressed, UTF-16LE otherwise.
std::string storedName(const std::string &utf8, bool compressed);

struct PeerValue {
    uint32_t type;
    std::string hex; // "dword:xxxxxxxx" or comma-separated bytes
    bool operator==(const PeerValue &) const = default;
};
using PeerExport = std::map<std::string, std::map<std::string, PeerValue>>;

// `reglookup -H -t KEY` output parsed into key path (decoded) -> "mtime|class";
// `lines` counts the keys listed.
std::map<std::string, std::string> reglookupKeys(const std::string &csv, size_t &lines);

// hivexregedit --export parsed into key path -> value name -> (type, data).
PeerExport parseHivexExport(const std::string &text);
// The same view computed from our tree, with hivex's name conventions.
PeerExport exportLikeHivex(const Key &root);

} // namespace vt::hive::test
