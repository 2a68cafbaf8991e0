// Files the open system holds: no command may write over them. Paths are
// compared as files (device and inode), so that a symlink, a hard link, a
// ".." or a Windows path through the drive map is the same file.
#include "platform/Engine.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <shared_mutex>

namespace vt::platform
{

using namespace detail;

namespace
{

struct FileId {
    dev_t dev;
    ino_t ino;
};

// The path as the file system resolves it, also for a file not created yet
// (its folder resolved, its own name kept) and through a link to one.
std::string resolvedPath(std::string path)
{
    char buf[PATH_MAX];
    for (int hops = 0; hops < 40; ++hops) {
        if (::realpath(path.c_str(), buf))
            return buf;
        const size_t slash = path.find_last_of('/');
        const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n <= 0) {
            if (!::realpath(dir.c_str(), buf))
                return path;
            return std::string(buf) + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
        }
        const std::string link(buf, static_cast<size_t>(n));
        path = link.front() == '/' ? link : dir + "/" + link; // a dangling link: follow it by name
    }
    return path;
}

} // namespace

LONG fileInUse(std::string_view path)
{
    const std::string native = toNativePath(path);
    if (native.empty())
        return ERROR_SUCCESS;
    System &s = current();
    catchUp(s); // mounts another process made since
    std::vector<std::string> held;
    {
        std::shared_lock l(s.lock);
        for (const auto &m : s.mounts) {
            if (m->file.empty())
                continue;
            held.push_back(m->file);
            for (const char *suffix : {".LOG", ".LOG1", ".LOG2"})
                held.push_back(m->file + suffix);
        }
        // Everything directly in the system's folder is its own: the
        // journal generations, the mount list, the lock and settings files.
        if (DIR *d = ::opendir(s.root.c_str())) {
            while (const dirent *e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..")
                    held.push_back(s.root + "/" + name);
            }
            ::closedir(d);
        }
    }
    struct stat target {
    };
    const bool exists = ::stat(native.c_str(), &target) == 0;
    const std::string where = resolvedPath(native);
    for (const std::string &file : held) {
        struct stat st {
        };
        if (exists && ::stat(file.c_str(), &st) == 0) {
            if (st.st_dev == target.st_dev && st.st_ino == target.st_ino)
                return ERROR_SHARING_VIOLATION;
        } else if (!exists && resolvedPath(file) == where) {
            return ERROR_SHARING_VIOLATION; // a log the hive has not written yet
        }
    }
    return ERROR_SUCCESS;
}

} // namespace vt::platform
