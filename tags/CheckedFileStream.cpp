#include "tags/CheckedFileStream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tagcopy::detail {

namespace {

// What follows a tag that grows or shrinks moves in pieces of this size.
constexpr long kChunkBytes = 64 << 10;

} // namespace

TCheckedFileStream::TCheckedFileStream(const std::string &path)
    : path_(path), fd_(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY))
{
    if (fd_ < 0)
        error_ = errno;
}

TCheckedFileStream::~TCheckedFileStream()
{
    if (fd_ >= 0)
        close(fd_);
}

void TCheckedFileStream::Close()
{
    // The descriptor is gone whatever close() says: it is never closed twice.
    if (fd_ >= 0 && close(fd_) != 0)
        Fail(errno);
    fd_ = -1;
}

void TCheckedFileStream::Fail(int error)
{
    if (error_ == 0)
        error_ = error;
}

size_t TCheckedFileStream::ReadAt(long position, char *data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd_, data + done, size - done, position + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            Fail(errno);
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

void TCheckedFileStream::WriteAt(long position, const char *data, size_t size)
{
    if (position < 0 || size > static_cast<size_t>(LONG_MAX - position))
        Fail(EFBIG);
    // A short write is tried again for the rest, which then gives the reason it fell short.
    for (size_t done = 0; done < size && error_ == 0;) {
        const ssize_t put = pwrite(fd_, data + done, size - done, position + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            Fail(put < 0 ? errno : ENOSPC);
        else
            done += static_cast<size_t>(put);
    }
}

TagLib::FileName TCheckedFileStream::name() const { return path_.c_str(); }

TagLib::ByteVector TCheckedFileStream::readBlock(unsigned long length)
{
    // No more than the file holds: a damaged size in a tag must not cost memory.
    const long size = this->length();
    if (!isOpen() || position_ >= size)
        return TagLib::ByteVector();
    const unsigned long wanted =
        std::min({length, static_cast<unsigned long>(size - position_), static_cast<unsigned long>(UINT_MAX)});
    TagLib::ByteVector block(static_cast<unsigned int>(wanted));
    const size_t got = ReadAt(position_, block.data(), wanted);
    block.resize(static_cast<unsigned int>(got));
    position_ += static_cast<long>(got);
    return block;
}

void TCheckedFileStream::writeBlock(const TagLib::ByteVector &data)
{
    WriteAt(position_, data.data(), data.size());
    if (error_ == 0)
        position_ += static_cast<long>(data.size());
}

void TCheckedFileStream::insert(const TagLib::ByteVector &data, unsigned long start, unsigned long replace)
{
    if (data.size() <= replace) {
        WriteAt(static_cast<long>(start), data.data(), data.size());
        if (data.size() < replace)
            removeBlock(start + data.size(), replace - data.size());
        return;
    }
    // What follows the replaced bytes moves up, from the end backwards, so that no byte is overwritten
    // before it was read; then the new bytes go in front of it.
    const long shift = static_cast<long>(data.size() - replace);
    const long from = static_cast<long>(start + replace);
    std::vector<char> chunk(kChunkBytes);
    for (long end = length(); end > from && error_ == 0;) {
        const long size = std::min(kChunkBytes, end - from);
        if (ReadAt(end - size, chunk.data(), static_cast<size_t>(size)) != static_cast<size_t>(size))
            Fail(EIO); // the file ended early: changed by someone else
        WriteAt(end - size + shift, chunk.data(), static_cast<size_t>(size));
        end -= size;
    }
    WriteAt(static_cast<long>(start), data.data(), data.size());
}

void TCheckedFileStream::removeBlock(unsigned long start, unsigned long length)
{
    // What follows moves down, from the front forwards, and the file ends where it now ends.
    const long end = this->length();
    long to = static_cast<long>(start);
    std::vector<char> chunk(kChunkBytes);
    for (long from = static_cast<long>(start + length); from < end && error_ == 0;) {
        const long size = std::min(kChunkBytes, end - from);
        if (ReadAt(from, chunk.data(), static_cast<size_t>(size)) != static_cast<size_t>(size))
            Fail(EIO);
        WriteAt(to, chunk.data(), static_cast<size_t>(size));
        from += size;
        to += size;
    }
    truncate(to);
}

bool TCheckedFileStream::readOnly() const { return !isOpen(); }

bool TCheckedFileStream::isOpen() const { return fd_ >= 0; }

void TCheckedFileStream::seek(long offset, Position p)
{
    const long base = p == Current ? position_ : p == End ? length() : 0;
    long to = 0;
    // As with fseek, a place before the start (or past any offset) leaves the position as it was.
    if (!__builtin_add_overflow(base, offset, &to) && to >= 0)
        position_ = to;
}

void TCheckedFileStream::clear()
{
    // Nothing to reset: there is no end-of-file state, and a remembered failure must stay.
}

long TCheckedFileStream::tell() const { return position_; }

long TCheckedFileStream::length()
{
    struct stat info {};
    if (!isOpen())
        return 0;
    if (fstat(fd_, &info) != 0) {
        Fail(errno);
        return 0;
    }
    return static_cast<long>(info.st_size);
}

void TCheckedFileStream::truncate(long length)
{
    if (error_ == 0 && ftruncate(fd_, length) != 0)
        Fail(errno);
}

} // namespace tagcopy::detail
