// Makes a folder the current directory and restores the previous one when the scope ends,
// whatever happens in between.
#pragma once

#include <filesystem>

namespace avlib {

class CurrentDirectoryScope {
public:
    explicit CurrentDirectoryScope(const std::filesystem::path &folder)
    {
        std::error_code ec;
        previous_ = std::filesystem::current_path(ec);
        if (ec)
            return;
        std::filesystem::current_path(folder, ec);
        changed_ = !ec;
    }
    ~CurrentDirectoryScope()
    {
        if (changed_) {
            std::error_code ec;
            std::filesystem::current_path(previous_, ec);
        }
    }
    CurrentDirectoryScope(const CurrentDirectoryScope &) = delete;
    CurrentDirectoryScope &operator=(const CurrentDirectoryScope &) = delete;

private:
    std::filesystem::path previous_;
    bool changed_ = false;
};

} // namespace avlib
