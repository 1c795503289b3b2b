// Which local files a media address names, so that two addresses can be told to be one file.
#pragma once

#include <string>
#include <vector>

// The local files an address opens, as the media libraries read it: a plain path, "file:" and the
// protocols that open another address ("async:", "cache:", "crypto:", "md5:", "subfile,...:"), each
// part of "concat:a|b" and "tee:a|b", and a "concatf:" list with the files it lists. Empty for
// network and device protocols. The media libraries must be loaded.
std::vector<std::string> LocalFilesNamed(const std::string &address);
// True when the addresses have an existing local file in common (hard and symbolic links too).
bool SameLocalFile(const std::string &first, const std::string &second);
