#pragma once

#include <string>
#include <utility>

namespace dw {

// What went wrong, in one kind across the engine: a code for callers that branch on it,
// and the text a front end shows as it stands.
enum class ErrorCode {
    Ok,
    OpenFailed,  // the image or a host file could not be opened or created
    ReadFailed,  // a read failed or came back short
    WriteFailed, // a write or flush failed
    BadImage,    // the image cannot be used at all (SIR unusable, file too short)
    Damaged,     // a chain loops, leaves the image, or does not match its record
    NotFound,    // no entry of that name
    ReadOnly,    // the image is open for reading only
    DiskFull,    // the free chain ran out
    DirectoryFull,
    InvalidName,
    InvalidLink,
    Exists,
    BadGeometry,
    Cancelled,
    Busy,      // another program holds the image
    BadRecord, // a program file's record (S-record, Intel HEX, FLEX binary) that cannot be read
    BadDate,   // a date that a FLEX entry or a host file cannot take
};

class Status {
public:
    Status() = default;
    Status(ErrorCode code, std::string text) : code_(code), text_(std::move(text)) {}

    static Status success() { return {}; }

    bool ok() const { return code_ == ErrorCode::Ok; }
    ErrorCode code() const { return code_; }
    const std::string& text() const { return text_; }

private:
    ErrorCode code_ = ErrorCode::Ok;
    std::string text_;
};

} // namespace dw
