// Scratch folders for the archive component's tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

namespace ziptest {

class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zipkitXXXXXX").string();
        if (mkdtemp(tmpl.data()))
            path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string() + "/"; }
    std::u16string wide() const
    {
        const std::string s = str();
        return std::u16string(s.begin(), s.end());  // temp paths are ASCII
    }
    void write(const std::string& rel, const std::string& data) const
    {
        std::filesystem::create_directories((path_ / rel).parent_path());
        std::ofstream(path_ / rel, std::ios::binary) << data;
    }

private:
    std::filesystem::path path_;
};

}  // namespace ziptest
