#include "tags/TagCopy.h"

namespace tagcopy {

bool CopyTags(const std::string &from, const std::string &to, std::string &error, const TWriteOptions &options,
              bool *damaged)
{
    if (damaged)
        *damaged = false;
    TTagSet tags;
    return ReadTags(from, tags, error) && WriteTags(to, tags, error, options, damaged);
}

} // namespace tagcopy
