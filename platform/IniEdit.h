// What a batch of writes makes of a settings file: the rules of which texts can be stored and
// the new bytes, produced in one pass over the old ones. Private to the settings layer.
#pragma once

#include "IniParse.h"
#include "IniValue.h"

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace ini {

// Whether a key can stand in the file and read back as it is: valid UTF-8, nothing that breaks
// the line, no surrounding blanks, no "=", not looking like a comment or a header.
bool StorableKeyText(std::string_view key);

// A batch holds a text that no file could hold.
struct TUnstorable {};

using TSink = std::function<void(std::string_view)>;

class TIniEdit;

// What a batch of writes makes of the file. Throws TUnstorable for a text no file could hold.
class TNewFile {
public:
    TNewFile(const TIniParse& parse, const std::vector<TIniValue>& values);
    ~TNewFile();
    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;

    // False when every value is in the file already.
    bool Changes() const { return changes_; }
    void Write(const TSink& out) const;

private:
    std::unique_ptr<TIniParse> converted_;
    std::unique_ptr<TIniEdit> edit_;
    std::string bytes_; // the result, when it had to be looked at whole
    bool changes_ = false;
};

} // namespace ini
