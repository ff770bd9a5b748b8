// Makes a file refuse writes for the test's duration. Root ignores permission bits, so for root
// the file is made immutable instead (where the file system supports it).
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

class TUnwritableFile {
public:
    explicit TUnwritableFile(std::string path) : path_(std::move(path)) { done_ = Set(true); }
    ~TUnwritableFile() { Set(false); }
    TUnwritableFile(const TUnwritableFile&) = delete;
    TUnwritableFile& operator=(const TUnwritableFile&) = delete;

    // False when the file could not be made unwritable: the test should skip.
    bool Done() const { return done_; }

private:
    bool Set(bool unwritable) const
    {
        if (geteuid() != 0)
            return chmod(path_.c_str(), unwritable ? 0444 : 0644) == 0;
        const int fd = open(path_.c_str(), O_RDONLY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = unwritable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        close(fd);
        return ok;
    }

    std::string path_;
    bool done_ = false;
};
