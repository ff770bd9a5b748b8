// Scratch directories and files for tests, removed with everything in them.
#pragma once

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
public:
    TempDir() { dir_.setAutoRemove(true); }
    std::string Path() const { return dir_.path().toStdString(); }
    std::string operator/(const std::string& piece) const { return Path() + "/" + piece; }

    // Writes a file (creating its directories) with exactly these bytes.
    std::string Write(const std::string& relative, const std::string& bytes) const
    {
        const std::filesystem::path path = std::filesystem::path(Path()) / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::string MakeDir(const std::string& relative) const
    {
        const std::filesystem::path path = std::filesystem::path(Path()) / relative;
        std::filesystem::create_directories(path);
        return path.string();
    }

private:
    QTemporaryDir dir_;
};

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the test body with the given directory as the current one, going back afterwards.
class CurrentDirScope {
public:
    explicit CurrentDirScope(const std::string& dir)
        : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~CurrentDirScope() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};
