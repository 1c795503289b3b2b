#include "TagCopy.h"

namespace tagcopy {

bool CopyTags(const std::string &from, const std::string &to, std::string &error, const TWriteOptions &options)
{
    TTagSet tags;
    return ReadTags(from, tags, error) && WriteTags(to, tags, error, options);
}

} // namespace tagcopy
