// Walking symbolic links by hand, for files that are written through a link of their name: the
// file to write is the one the links finally lead to, also when it does not exist yet.
#pragma once

#include <string>

namespace ts {

// The most links one walk follows, as the system's own lookups do: a longer chain is taken for a
// loop.
inline constexpr int kMaxLinkHops = 40;

// Follows the links from path, at most kMaxLinkHops of them, to the name they finally lead to (path
// itself when it is no link); a relative link leads from its own folder. target receives that name.
// False when the walk ends on a link still (a loop, too long a chain, or a link that cannot be
// read); target then holds the link where it stopped.
bool FollowLinks(const std::string& path, std::string& target);

}  // namespace ts
