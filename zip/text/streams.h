// Byte streams of the archive component: the abstract stream, a stream over a POSIX file
// descriptor and a growable memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zip {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// Stream failures of the platform layer (the message is UTF-8).
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class TStream {
public:
    virtual ~TStream() = default;
    // Reads or writes up to count bytes; returns the number moved (0 at the end or on failure).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Returns the new position, or -1 when the seek failed.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(std::int64_t newSize) = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    virtual std::int64_t Size();

    // Whole-buffer forms: raise EStreamError on a short transfer.
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
    // Copies count bytes from source (everything from position 0 when count is 0).
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream over an open file descriptor; the descriptor belongs to the caller.
class THandleStream : public TStream {
public:
    explicit THandleStream(int handle) : handle_(handle) {}
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t newSize) override;
    int Handle() const { return handle_; }

protected:
    int handle_;
};

class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t newSize) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    const std::vector<std::uint8_t>& Data() const { return data_; }
    void Clear() {
        data_.clear();
        pos_ = 0;
    }

private:
    std::vector<std::uint8_t> data_;
    std::int64_t pos_ = 0;
};

}  // namespace zip
