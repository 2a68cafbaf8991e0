// FormatMessageA: the system's message texts for the error codes this
// platform returns, word for word as English Windows gives them.
#include "platform/win32.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace
{

struct Message {
    DWORD code;
    const char *text;
};

// Sorted by code.
constexpr Message kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_BAD_FORMAT, "An attempt was made to load a program with an incorrect format."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_BAD_NETPATH, "The network path was not found."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_BAD_PATHNAME, "The specified path is invalid."},
    {ERROR_BUSY, "The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_MR_MID_NOT_FOUND, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {ERROR_NOACCESS, "Invalid access to memory location."},
    {ERROR_BADDB, "The configuration registry database is corrupt."},
    {ERROR_BADKEY, "The configuration registry key is invalid."},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened."},
    {ERROR_CANTREAD, "The configuration registry key could not be read."},
    {ERROR_CANTWRITE, "The configuration registry key could not be written."},
    {ERROR_REGISTRY_RECOVERED,
     "One of the files in the registry database had to be recovered by use of a log or alternate copy. The "
     "recovery was successful."},
    {ERROR_REGISTRY_CORRUPT,
     "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or the "
     "system's memory image of the file is corrupted, or the file could not be recovered because the alternate copy "
     "or log was absent or corrupted."},
    {ERROR_REGISTRY_IO_FAILED,
     "An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or write out, "
     "or flush, one of the files that contain the system's image of the registry."},
    {ERROR_NOT_REGISTRY_FILE,
     "The system has attempted to load or restore a file into the registry, but the specified file is not in a "
     "registry file format."},
    {ERROR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_KEY_HAS_CHILDREN, "Cannot create a symbolic link in a registry key that already has subkeys or values."},
    {ERROR_CHILD_MUST_BE_VOLATILE, "Cannot create a stable subkey under a volatile parent key."},
    {ERROR_UNKNOWN_REVISION, "The revision level is unknown."},
    {ERROR_PRIVILEGE_NOT_HELD, "A required privilege is not held by the client."},
    {ERROR_NO_SUCH_USER, "The specified account does not exist."},
    {ERROR_LOGON_FAILURE, "The user name or password is incorrect."},
    {ERROR_NONE_MAPPED, "No mapping between account names and security IDs was done."},
    {ERROR_INVALID_ACL, "The access control list (ACL) structure is invalid."},
    {ERROR_INVALID_SID, "The security ID structure is invalid."},
    {ERROR_INVALID_SECURITY_DESCR, "The security descriptor structure is invalid."},
    {ERROR_BAD_DESCRIPTOR_FORMAT,
     "Indicates a security descriptor is not in the right format (absolute or self-relative)."},
    {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable."},
};

const char *findMessage(DWORD code)
{
    const auto *end = std::end(kMessages);
    const auto *it =
        std::lower_bound(std::begin(kMessages), end, code, [](const Message &m, DWORD c) { return m.code < c; });
    return it != end && it->code == code ? it->text : nullptr;
}

} // namespace

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                            DWORD nSize, va_list *Arguments)
{
    (void)lpSource;
    (void)dwLanguageId;
    (void)Arguments;
    // Only the system's table is here; a message from a string or a module is not.
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char *found = findMessage(dwMessageId);
    if (!found) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    // Windows ends each system message with a line break; a maximum width
    // (any value in the mask) turns it into nothing, as no line is wrapped.
    std::string_view text = found;
    const bool lineBreak = (dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == 0;
    const size_t length = text.size() + (lineBreak ? 2 : 0);
    if (!lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char *out;
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // lpBuffer is where the allocation goes; nSize is the least to allocate.
        out = static_cast<char *>(std::malloc(std::max<size_t>(length + 1, nSize)));
        if (!out) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<char **>(lpBuffer) = out;
    } else {
        if (nSize < length + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        out = lpBuffer;
    }
    std::memcpy(out, text.data(), text.size());
    if (lineBreak)
        std::memcpy(out + text.size(), "\r\n", 2);
    out[length] = '\0';
    return static_cast<DWORD>(length);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    std::free(hMem);
    return nullptr;
}
