// A small file system of one kind (ntfs, exfat, fat32, squashfs, ext4, tmpfs), made and mounted
// for one test by mount-fs.sh beside this file and taken down with the object: unmounted (lazily
// when still busy), its loop device detached, its scratch directory removed. A test that dies
// before that leaves a scratch directory naming its process; the next mount sweeps it away.
//
//     TMountedFileSystem disk("exfat");
//     KBX_SKIP_UNLESS_MOUNTED(disk);   // not root, no /dev/fuse, a package missing, a refusal
//     ... disk.Root() ...
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#define KBX_SKIP_UNLESS_MOUNTED(disk)                                                                                 \
    if (!(disk).Mounted())                                                                                           \
    GTEST_SKIP() << (disk).Refusal()

class TMountedFileSystem {
public:
    // A squashfs image holds a copy of source; the other kinds start empty.
    explicit TMountedFileSystem(const std::string& kind, const std::string& source = "") : kind_(kind)
    {
        if (geteuid() != 0) {
            refusal_ = kind + " not tried: mounting needs root";
            return;
        }
        Run("sweep");
        std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/kabinex-fs.XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            refusal_ = "no scratch directory for the image";
            return;
        }
        work_ = pattern;
        FILE* owner = std::fopen((work_ + "/owner").c_str(), "w");
        if (owner) {
            std::fprintf(owner, "%d\n", int(getpid()));
            std::fclose(owner);
        }
        Mount("mount " + Quote(kind) + " " + Quote(work_) + (source.empty() ? "" : " " + Quote(source)));
    }
    ~TMountedFileSystem()
    {
        if (work_.empty())
            return;
        Run("unmount " + Quote(work_));
        if (!StillMounted())
            std::filesystem::remove_all(work_);
    }
    TMountedFileSystem(const TMountedFileSystem&) = delete;
    TMountedFileSystem& operator=(const TMountedFileSystem&) = delete;

    bool Mounted() const { return !root_.empty(); }
    const std::string& Root() const { return root_; }
    std::string operator/(const std::string& piece) const { return root_ + "/" + piece; }
    // Why the file system is not mounted: the reason to skip.
    const std::string& Refusal() const { return refusal_; }

    // The same image unmounted and mounted again, as a stick pulled and put back.
    bool Remount() { return Mount("remount " + Quote(work_)); }

private:
    static std::string Script() { return KABINEX_SOURCE_DIR "/tests/filesystems/mount-fs.sh"; }
    static std::string Quote(const std::string& text)
    {
        std::string quoted = "'";
        for (const char c : text)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }

    // Runs the script; its output (stdout and stderr) and its exit status.
    static std::pair<std::string, int> Run(const std::string& arguments)
    {
        std::string output;
        FILE* pipe = popen((Quote(Script()) + " " + arguments + " 2>&1").c_str(), "r");
        if (!pipe)
            return {"cannot run " + Script(), -1};
        std::array<char, 512> buffer{};
        while (std::fgets(buffer.data(), buffer.size(), pipe))
            output += buffer.data();
        const int status = pclose(pipe);
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }

    bool Mount(const std::string& arguments)
    {
        const auto [output, status] = Run(arguments);
        root_ = status == 0 ? output : "";
        if (status == 2)
            refusal_ = kind_ + " cannot be mounted here: " + output;
        else if (status != 0)
            ADD_FAILURE() << "mount-fs.sh " << arguments << " failed (" << status << "): " << output;
        return status == 0;
    }

    // A mount point is on another device than the directory that holds it.
    bool StillMounted() const
    {
        struct stat mnt {}, work {};
        return stat((work_ + "/mnt").c_str(), &mnt) == 0 && stat(work_.c_str(), &work) == 0 && mnt.st_dev != work.st_dev;
    }

    std::string kind_;
    std::string work_;
    std::string root_;
    std::string refusal_;
};
