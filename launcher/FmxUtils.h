// ExecuteFile: start a program the way the desktop shell would, without waiting for it.
#pragma once

#include "Process.h"

#include <memory>
#include <string>
#include <vector>

enum class TShowState {
    Hidden, // no terminal, standard streams to /dev/null
    Normal, // no terminal, stdin from /dev/null, stdout and stderr shared with the launcher
};

using TChildProcess = platform::ChildProcess;

// Starts fileName with the parameters (each one argument, passed as it is: no shell sees them)
// in directory as working directory, in a session of its own so that it outlives the launcher.
// A relative fileName is taken in directory, never searched for elsewhere; a batch file
// ("*.bat") is run by /bin/sh. Returns the running program, whose Finished signal tells the
// event loop when it ends, or nullptr when it cannot be started; *error then holds the system's
// error number. environment: NAME=VALUE entries put into the program's environment; inherited:
// descriptors the program gets as 3, 4, ... (a lock it holds while it runs).
std::unique_ptr<TChildProcess> ExecuteFile(const std::string& fileName, const std::vector<std::string>& parameters,
                                           const std::string& directory, TShowState show, int* error = nullptr,
                                           const std::vector<std::string>& environment = {},
                                           const std::vector<int>& inherited = {});

// The path of the file ExecuteFile starts for fileName and directory, absolute.
std::string ExecutablePath(const std::string& fileName, const std::string& directory);
