#include "core/file_links.h"

#include <filesystem>
#include <system_error>

namespace ts {

bool FollowLinks(const std::string& path, std::string& target) {
    namespace fs = std::filesystem;
    fs::path p = path;
    std::error_code ec;
    for (int hops = 0; hops < kMaxLinkHops && fs::is_symlink(p, ec); ++hops) {
        const fs::path t = fs::read_symlink(p, ec);
        if (ec) break;
        p = t.is_absolute() ? t : p.parent_path() / t;
    }
    target = p.string();
    return !fs::is_symlink(p, ec);
}

}  // namespace ts
