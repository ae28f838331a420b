#include "snapshot/FileWriting.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kMaxSameSecondPhotos = 100000;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

bool SetError(std::string* error, const std::string& what, const std::string& path, int code) {
    if (error) *error = what + " " + Quoted(path) + ": " + std::strerror(code);
    return false;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool WriteBlocksTo(int fd, const std::string& path, const WriteBlock* blocks, std::size_t count, std::string* error) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!WriteAll(fd, blocks[i].data, blocks[i].size)) {
            const int code = errno;
            ::close(fd);
            return SetError(error, "cannot write", path, code);
        }
    }
    if (::close(fd) != 0) return SetError(error, "cannot write", path, errno);
    return true;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const WriteBlock* blocks, std::size_t count, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return SetError(error, "cannot create", path, errno);
    return WriteBlocksTo(fd, path, blocks, count, error);
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, std::string* error) {
    const std::string temporary = path + ".part";
    const WriteBlock block{data, size};
    if (!WriteWholeFile(temporary, &block, 1, error)) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return SetError(error, "cannot replace", path, code);
    }
    return true;
}

bool CopyToNewFile(const std::string& source, const std::string& stem, const std::string& extension,
                   std::string* stored, std::string* error) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return SetError(error, "cannot read", source, errno);

    std::string target;
    int out = -1;
    for (int number = 1; number <= kMaxSameSecondPhotos && out < 0; ++number) {
        target = number == 1 ? stem + extension : stem + "-" + std::to_string(number) + extension;
        // Exclusive creation: an existing photo is never replaced.
        out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (out < 0 && errno != EEXIST) {
            const int code = errno;
            ::close(in);
            return SetError(error, "cannot create", target, code);
        }
    }
    if (out < 0) {
        ::close(in);
        return SetError(error, "cannot create", target, EEXIST);
    }

    char buffer[1 << 16];
    bool ok = true;
    int code = 0;
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ok = false;
            code = errno;
            break;
        }
        if (got == 0) break;
        if (!WriteAll(out, buffer, static_cast<std::size_t>(got))) {
            ok = false;
            code = errno;
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(target.c_str());  // nothing half-made stays behind
        return SetError(error, "cannot write", target, code);
    }
    if (stored) *stored = target;
    return true;
}
