// A TagLib stream over a file descriptor that does not hide failed writes. Internal to velox_tags.
#pragma once

#include <string>

#include <tiostream.h>

namespace tagcopy::detail {

// TagLib's own stream writes through stdio and drops write errors: a full disk while the sound moves
// behind a grown tag would leave a broken file reported as saved. Here the first failed write or
// truncation is remembered with its errno and nothing is written after it. A failed read is
// remembered too and stops the writing as well: what was not read must not be written back.
class TCheckedFileStream : public TagLib::IOStream {
public:
    // Opens path for reading and writing; when that fails isOpen() is false and Error() tells why.
    explicit TCheckedFileStream(const std::string &path);
    ~TCheckedFileStream() override;

    // The errno of the first failure; 0 when none.
    int Error() const { return error_; }
    // Closes now, so that a failure the system reports only at close is remembered too.
    void Close();

    TagLib::FileName name() const override;
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector &data) override;
    void insert(const TagLib::ByteVector &data, unsigned long start = 0, unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override;
    bool isOpen() const override;
    void seek(long offset, Position p = Beginning) override;
    void clear() override;
    long tell() const override;
    long length() override;
    void truncate(long length) override;

private:
    void Fail(int error);
    // Whole blocks unless the file ends or a read fails; the number of bytes read.
    size_t ReadAt(long position, char *data, size_t size);
    void WriteAt(long position, const char *data, size_t size);

    std::string path_;
    int fd_;
    long position_ = 0;
    int error_ = 0;
};

} // namespace tagcopy::detail
