// Preloaded into the program by the end-to-end tests to fail the reading of one file part way,
// deterministically: after FAULTY_READ_AFTER bytes of the file named by FAULTY_READ_PATH, a read
// fails with EIO, or with FAULTY_READ_MODE=truncate the file is cut there, as if another process
// had shortened it between two reads.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <string>
#include <unistd.h>

namespace {

bool isWatched(int fd)
{
    const char *watched = std::getenv("FAULTY_READ_PATH");
    if (!watched)
        return false;
    char path[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t size = readlink(link.c_str(), path, sizeof path - 1);
    return size > 0 && std::string(path, size_t(size)) == watched;
}

} // namespace

extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
    using Read = ssize_t (*)(int, void *, size_t);
    static const Read realRead = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    if (!isWatched(fd))
        return realRead(fd, buffer, count);

    const off_t limit = off_t(std::atoll(std::getenv("FAULTY_READ_AFTER")));
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position < limit)
        return realRead(fd, buffer, std::min(count, size_t(limit - position)));
    const char *mode = std::getenv("FAULTY_READ_MODE");
    if (mode && std::strcmp(mode, "truncate") == 0) {
        if (truncate(std::getenv("FAULTY_READ_PATH"), limit) != 0)
            return -1;
        return realRead(fd, buffer, count);
    }
    errno = EIO;
    return -1;
}
