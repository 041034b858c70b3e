#pragma once

#include <string>
#include <utility>

namespace dw {

// What went wrong, in one kind across the engine: a code for callers that branch on it, the
// text a front end shows as it stands, and what a front end words its own way: the fact that
// decided it and the system's reason (errno), so that no caller has to take them out of the
// text or ask the system again.
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
    Status(ErrorCode code, std::string text, std::string fact, int systemError = 0)
        : code_(code), text_(std::move(text)), fact_(std::move(fact)), systemError_(systemError) {}

    static Status success() { return {}; }

    bool ok() const { return code_ == ErrorCode::Ok; }
    ErrorCode code() const { return code_; }
    const std::string& text() const { return text_; }
    // The deciding fact in a few words that follow a front end's own lead-in ("the file is too
    // short (100 bytes)" after "not a FLEX disk image: "); empty when the text says it all.
    const std::string& fact() const { return fact_; }
    // The errno of the system call that failed; 0 when no call failed.
    int systemError() const { return systemError_; }

private:
    ErrorCode code_ = ErrorCode::Ok;
    std::string text_;
    std::string fact_;
    int systemError_ = 0;
};

} // namespace dw
