// Hive files on disk: loading with transaction-log replay, and durable saving.
#include "platform/hive/Regf.h"
#include "platform/hive/RegfFormat.h"

#include <algorithm>
#include <cerrno>
#include <map>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vt::hive
{

using namespace regf;

namespace
{

constexpr uint64_t kMaxFileSize = uint64_t{2} << 30; // Windows' own hive size limit
constexpr uint32_t kLogBaseSize = 512;               // logs keep only the first sector of a base block
constexpr uint32_t kSector = 512;

LONG errnoToWin32(int err)
{
    switch (err) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

LONG readFile(const std::string &path, std::vector<uint8_t> &out)
{
    // Without O_NONBLOCK opening a FIFO waits for a writer, forever, and the
    // caller may hold the system's lock; the type is checked right after.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errnoToWin32(errno);
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ERROR_CANTREAD;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        ::close(fd);
        return ERROR_REGISTRY_CORRUPT;
    }
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(done); // a file that shrank meanwhile is read as it now is
    return ERROR_SUCCESS;
}

bool baseBlockValid(std::span<const uint8_t> b)
{
    return b.size() >= kLogBaseSize && std::memcmp(b.data(), "regf", 4) == 0 &&
           baseBlockChecksum(b.data()) == rd32(b.data() + kChecksumOffset);
}

struct LogEntry {
    std::span<const uint8_t> bytes;
    uint32_t seq;
    uint32_t binsSize;
};

// Sequence numbers wrap; `a` comes before `b` when it is less than half the
// number space behind it.
bool seqBefore(uint32_t a, uint32_t b)
{
    return static_cast<int32_t>(a - b) < 0;
}

// New-format entries of one log, in file order, up to the first that fails its
// checks (hashes, bounds) or breaks the run of sequence numbers.
std::vector<LogEntry> collectEntries(std::span<const uint8_t> log)
{
    std::vector<LogEntry> entries;
    size_t pos = kLogBaseSize;
    while (pos + 40 <= log.size()) {
        const uint8_t *e = log.data() + pos;
        const uint32_t size = rd32(e + 4);
        if (std::memcmp(e, "HvLE", 4) != 0 || size < 40 || size % kSector || size > log.size() - pos)
            break;
        const uint32_t seq = rd32(e + 12), binsSize = rd32(e + 16), pages = rd32(e + 20);
        if (!entries.empty() && seq != entries.back().seq + 1)
            break;
        if (binsSize % kBinAlign || pages > (size - 40) / 8)
            break;
        auto entry = log.subspan(pos, size);
        if (marvin32(entry.subspan(0, 32)) != rd64(e + 32) || marvin32(entry.subspan(40)) != rd64(e + 24))
            break;
        uint64_t dataBytes = 0;
        bool ok = true;
        for (uint32_t i = 0; i < pages && ok; ++i) {
            const uint32_t off = rd32(e + 40 + 8 * i), len = rd32(e + 44 + 8 * i);
            ok = off % kBinAlign == 0 && len % kBinAlign == 0 && static_cast<uint64_t>(off) + len <= binsSize;
            dataBytes += len;
        }
        if (!ok || 40 + uint64_t{pages} * 8 + dataBytes > size)
            break;
        entries.push_back(LogEntry{entry, seq, binsSize});
        pos += size;
    }
    return entries;
}

void applyEntry(std::vector<uint8_t> &image, const LogEntry &entry)
{
    const uint8_t *e = entry.bytes.data();
    const uint32_t pages = rd32(e + 20);
    image.resize(kBaseBlockSize + static_cast<size_t>(entry.binsSize), 0);
    size_t data = 40 + size_t{pages} * 8;
    for (uint32_t i = 0; i < pages; ++i) {
        const uint32_t off = rd32(e + 40 + 8 * i), len = rd32(e + 44 + 8 * i);
        std::memcpy(image.data() + kBaseBlockSize + off, e + data, len);
        data += len;
    }
}

// An old-format log: a base block, a "DIRT" bitmap of 512-byte sectors, then those sectors.
bool applyOldLog(std::vector<uint8_t> &image, bool primaryValid, std::span<const uint8_t> log, uint64_t growthLimit)
{
    if (!baseBlockValid(log) || rd32(log.data() + 4) != rd32(log.data() + 8) || log.size() < kLogBaseSize + 4 ||
        std::memcmp(log.data() + kLogBaseSize, "DIRT", 4) != 0)
        return false;
    // The log must belong to the write the primary left unfinished, not an older one.
    if (primaryValid && rd32(log.data() + 4) != rd32(image.data() + 4))
        return false;
    const uint32_t binsSize = rd32(log.data() + 40);
    if (binsSize % kBinAlign || binsSize > growthLimit)
        return false;
    const size_t sectors = binsSize / kSector;
    const size_t bitmapBytes = sectors / 8;
    const size_t bitmapAt = kLogBaseSize + 4;
    if (bitmapAt + bitmapBytes > log.size())
        return false;
    const size_t pagesAt = (bitmapAt + bitmapBytes + kSector - 1) / kSector * kSector;
    size_t dirty = 0;
    for (size_t i = 0; i < sectors; ++i)
        dirty += (log[bitmapAt + i / 8] >> (i % 8)) & 1;
    if (pagesAt + dirty * kSector > log.size())
        return false;
    std::memcpy(image.data(), log.data(), kLogBaseSize);
    image.resize(kBaseBlockSize + static_cast<size_t>(binsSize), 0);
    size_t src = pagesAt;
    for (size_t i = 0; i < sectors; ++i) {
        if ((log[bitmapAt + i / 8] >> (i % 8)) & 1) {
            std::memcpy(image.data() + kBaseBlockSize + i * kSector, log.data() + src, kSector);
            src += kSector;
        }
    }
    return true;
}

// Brings a dirty or damaged image up to date from its logs, as Windows does
// before mounting. Returns whether anything was applied.
bool replayLogs(std::vector<uint8_t> &image, const std::string &path)
{
    std::vector<std::vector<uint8_t>> logs;
    for (const char *suffix : {".LOG1", ".LOG2", ".LOG"}) {
        std::vector<uint8_t> bytes;
        if (readFile(path + suffix, bytes) == ERROR_SUCCESS && bytes.size() >= kLogBaseSize)
            logs.push_back(std::move(bytes));
    }
    if (logs.empty())
        return false;
    if (image.size() < kBaseBlockSize)
        image.resize(kBaseBlockSize, 0);
    const bool primaryValid = baseBlockValid(image);
    // A hive grows only by pages the logs carry, which bounds what a crafted
    // size field can make us allocate.
    uint64_t growthLimit = image.size();
    for (const auto &log : logs)
        growthLimit += log.size();

    // New-format logs, in the order of their own sequence numbers: with dual
    // logging the writer moves from one log to the other, so the log that
    // holds the earlier entries is applied first, whichever its name.
    struct NewLog {
        const std::vector<uint8_t> *bytes;
        uint32_t seq;
    };
    std::vector<NewLog> newLogs;
    for (const auto &log : logs) {
        // A log whose base block fails its checksum is not trusted at all, as on Windows.
        if (baseBlockValid(log) && log.size() >= kLogBaseSize + 4 &&
            std::memcmp(log.data() + kLogBaseSize, "HvLE", 4) == 0)
            newLogs.push_back({&log, rd32(log.data() + 4)});
    }
    std::stable_sort(newLogs.begin(), newLogs.end(),
                     [](const NewLog &a, const NewLog &b) { return seqBefore(a.seq, b.seq); });
    if (!primaryValid && !newLogs.empty())
        std::memcpy(image.data(), newLogs.front().bytes->data(), kLogBaseSize);
    if (primaryValid || !newLogs.empty()) {
        // Every valid entry from the primary's sequence number on. The log
        // that starts the replay is the first whose own number is not older
        // than the primary's (or that holds the primary's entry); its first
        // entry may come later than that number: a writer that rotated its
        // logs twice had written the skipped entries' pages into the primary
        // (leaving its base block alone) before reusing their log. After that
        // each entry must follow the one before; a gap or a bad entry ends
        // the replay, as does a starting log with nothing valid in it.
        const uint32_t start = primaryValid ? rd32(image.data() + 8) : newLogs.front().seq;
        bool applied = false, stopped = false;
        uint32_t last = 0;
        for (const NewLog &log : newLogs) {
            const std::vector<LogEntry> entries = collectEntries(*log.bytes);
            const bool holdsStart =
                std::any_of(entries.begin(), entries.end(), [&](const LogEntry &e) { return e.seq == start; });
            if (!applied && seqBefore(log.seq, start) && !holdsStart)
                continue; // a stale log: all it holds is already in the primary
            for (const LogEntry &entry : entries) {
                if (applied ? !seqBefore(last, entry.seq) : seqBefore(entry.seq, start))
                    continue; // older than what the primary (or an applied entry) already holds
                if ((applied && entry.seq != last + 1) || entry.binsSize > growthLimit) {
                    stopped = true;
                    break;
                }
                applyEntry(image, entry);
                wr32(image.data() + 40, entry.binsSize);
                applied = true;
                last = entry.seq;
            }
            if (stopped || !applied)
                break;
        }
        if (applied) {
            wr32(image.data() + 4, last + 1);
            wr32(image.data() + 8, last + 1);
            wr32(image.data() + 28, 0);
            wr32(image.data() + kChecksumOffset, baseBlockChecksum(image.data()));
            return true;
        }
    }
    for (const auto &log : logs) {
        if (applyOldLog(image, primaryValid, log, growthLimit)) {
            wr32(image.data() + 8, rd32(image.data() + 4));
            wr32(image.data() + 28, 0);
            wr32(image.data() + kChecksumOffset, baseBlockChecksum(image.data()));
            return true;
        }
    }
    return false;
}

} // namespace

LONG readHiveFileBytes(const std::string &path, std::vector<uint8_t> &out)
{
    return readFile(path, out);
}

LONG loadHiveFile(const std::string &path, Hive &out, bool *recovered)
{
    RecoveryReport report;
    const LONG rc = loadHiveFile(path, out, report);
    if (recovered)
        *recovered = rc == ERROR_SUCCESS && report.recovered;
    return rc;
}

LONG loadHiveFile(const std::string &path, Hive &out, RecoveryReport &report)
{
    report = RecoveryReport();
    std::vector<uint8_t> image;
    if (LONG rc = readFile(path, image); rc != ERROR_SUCCESS)
        return rc;
    bool replayed = false, unreplayed = false;
    const bool hasSignature = image.size() >= 4 && std::memcmp(image.data(), "regf", 4) == 0;
    if (hasSignature) {
        const bool valid = baseBlockValid(image);
        if (!valid || rd32(image.data() + 4) != rd32(image.data() + 8)) {
            replayed = replayLogs(image, path);
            // A dirty hive whose logs are gone or unusable is used as it stands.
            unreplayed = !replayed && valid;
        }
    }
    const LONG rc = readHive(image, out, report);
    report.logsApplied = replayed;
    report.logsUnusable = unreplayed;
    report.recovered = report.recovered || replayed || unreplayed;
    return rc;
}

void removeSaveLeftovers(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + kSaveTempMarker;
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent *e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        // mkostemp's six characters after the marker, nothing else.
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
            struct stat st {
            };
            const std::string full = dir + "/" + std::string(name);
            if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                ::unlink(full.c_str());
        }
    }
    ::closedir(d);
}

namespace
{

// Writes the image straight into the temporary file; the first failure ends it.
class FileSink : public ImageSink
{
public:
    explicit FileSink(int fd) : m_fd(fd) {}
    LONG error() const { return m_error; }

    bool append(const uint8_t *bytes, size_t n) override
    {
        if (m_size + n > kMaxFileSize) // the loader would refuse the file
            return fail(ERROR_NOT_ENOUGH_MEMORY);
        if (!writeAll(m_size, bytes, n))
            return false;
        m_size += n;
        return true;
    }
    bool overwrite(uint64_t offset, const uint8_t *bytes, size_t n) override { return writeAll(offset, bytes, n); }

private:
    bool fail(LONG rc)
    {
        if (m_error == ERROR_SUCCESS)
            m_error = rc;
        return false;
    }
    bool writeAll(uint64_t offset, const uint8_t *bytes, size_t n)
    {
        while (n > 0) {
            const ssize_t w = ::pwrite(m_fd, bytes, n, static_cast<off_t>(offset));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                return fail(errnoToWin32(errno));
            bytes += w;
            offset += static_cast<uint64_t>(w);
            n -= static_cast<size_t>(w);
        }
        return true;
    }

    int m_fd;
    uint64_t m_size = 0;
    LONG m_error = ERROR_SUCCESS;
};

} // namespace

LONG saveHiveFile(const std::string &path, const Hive &hive)
{
    // Renaming over a device or a FIFO would replace it with a regular file.
    if (struct stat target{}; ::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode))
        return ERROR_ACCESS_DENIED;
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string tmp = path + kSaveTempMarker + "XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : errnoToWin32(errno);
    auto fail = [&](LONG rc) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return rc;
    };
    struct stat st {
    };
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600); // hives hold private data
    FileSink sink(fd);
    writeHive(hive, sink);
    if (sink.error() != ERROR_SUCCESS)
        return fail(sink.error());
    if (::fsync(fd) != 0)
        return fail(errnoToWin32(errno));
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return errnoToWin32(err);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return errnoToWin32(err);
    }
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        const int synced = ::fsync(dfd);
        ::close(dfd);
        if (synced != 0)
            return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
}

} // namespace vt::hive
