#include "FmxUtils.h"

#include "FileSystem.h"

#include <cerrno>

namespace {

bool IsBatchFile(const std::string& fileName)
{
    return fileName.size() > 4 && fileName.ends_with(".bat");
}

} // namespace

std::string ExecutablePath(const std::string& fileName, const std::string& directory)
{
    std::string path = fileName.starts_with(platform::PathDelim) ? fileName : platform::JoinPath(directory, fileName);
    // The program starts after the change into directory, so a path relative to the launcher's
    // own directory would no longer name it.
    if (!path.starts_with(platform::PathDelim))
        path = platform::JoinPath(platform::CurrentDir(), path);
    return path;
}

std::unique_ptr<TChildProcess> ExecuteFile(const std::string& fileName, const std::vector<std::string>& parameters,
                                           const std::string& directory, TShowState show, int* error,
                                           const std::vector<std::string>& environment,
                                           const std::vector<int>& inherited)
{
    const std::string path = ExecutablePath(fileName, directory);
    const auto streams = show == TShowState::Hidden ? platform::StandardStreams::Null
                                                    : platform::StandardStreams::Inherit;
    std::vector<std::string> argv;
    std::string program = path;
    if (IsBatchFile(fileName)) {
        // The shell would start a script that is missing; that must be a start failure too.
        if (!platform::FileExists(path)) {
            if (error)
                *error = ENOENT;
            return nullptr;
        }
        program = "/bin/sh";
        argv = {"sh", path};
    } else {
        argv = {path};
    }
    argv.insert(argv.end(), parameters.begin(), parameters.end());
    return platform::StartDetached(program, argv, directory, streams, error, environment, inherited);
}
