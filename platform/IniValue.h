// One write of a batch to a settings file: the entry and what becomes of it.
#pragma once

#include <string>

struct TIniValue {
    std::string section;
    std::string key;
    std::string value;
    // The entry's line goes (value unused); nothing happens when there is no such entry.
    bool erase = false;
};
