#pragma once

// Motorola S-records and Intel HEX, the text forms cross assemblers and compilers write, read
// into and written from a MemoryImage. The readers take files from anywhere: every line is
// checked (its length against its byte count, every checksum, every address within 64 KiB), and
// the first line that fails refuses the whole text, naming the line and what is wrong.

#include "engine/MemoryImage.h"

#include <string>
#include <string_view>
#include <vector>

namespace dw {

enum class RecordFormat { SRecords, IntelHex };

// Lines end in LF or CR LF; blank lines and blanks around a record are ignored; hex digits may
// be of either case. A text without its end record is read, with a warning (it may be cut
// short). `warnings` also gets the overlap warning of the memory.
//
// S-records: S0 (header, ignored), S1/S2/S3 (data at 16/24/32-bit addresses), S5/S6 (the count
// of data records so far, checked), S9/S8/S7 (the end, with the start address).
// Intel HEX: 00 (data), 01 (end), 02 and 04 (extended segment and linear address), 03 and 05
// (start address).
// A start address of 0 gives none. Nothing may follow the end record.
Status readRecords(RecordFormat format, std::string_view text, MemoryImage& memory,
                   std::vector<std::string>& warnings);

// S0 with `header` (at most 64 bytes of it), S1 records of 16 bytes, S9 with the start
// address, or 0000 when there is none. Lines end in LF.
std::string writeSRecords(const MemoryImage& memory, const std::string& header);
// 00 records of 16 bytes, 05 with the start address when there is one, 01. Lines end in LF.
std::string writeIntelHex(const MemoryImage& memory);

// More text than 64 KiB could ever need, even as records of one byte each, repeated.
constexpr std::size_t MaxRecordTextSize = std::size_t{16} * 1024 * 1024;

// The whole of a host file of records, refused when it is larger than MaxRecordTextSize.
Status readRecordFile(const std::string& path, std::string& text);

} // namespace dw
