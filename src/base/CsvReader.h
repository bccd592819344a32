#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace fm {

// One record of a CSV text, as CsvReader reads it.
struct CsvRecord {
  std::vector<std::string> fields;
  std::size_t line = 0;  // the line the record starts on, the first line being 1
  // Why the record could not be read (bad quoting, too long); its fields are then
  // incomplete. Empty for a well-formed record.
  std::string error;
};

// Reads comma-separated values (RFC 4180, what CsvWriter writes) one record at a time from a
// stream, so a file of any length is read in the memory of its longest record. Records end
// with LF or CR LF; a field in double quotes may hold commas, quotes (doubled) and line
// breaks; a UTF-8 byte-order mark at the start is skipped; empty lines are no records. The
// bytes of the fields are handed on as they are: judging them (UTF-8, control characters) is
// the caller's.
//
// A record that breaks the rules is answered with its `error`, and the reader goes on at the
// next line, so that a caller can name every bad line of a file in one pass: a record longer
// than `maxRecordBytes` (the rest of its line is skipped, quotes or not), a double quote
// inside a field that does not start with one, text after a closing quote, and a quoted field
// still open at the end of the input.
class CsvReader {
 public:
  CsvReader(std::istream& in, std::size_t maxRecordBytes);

  // The next record into `record` (whose strings keep their capacity); false at the end of
  // the input. Errors of the stream end the input.
  bool Next(CsvRecord& record);

 private:
  bool ReadRecord(CsvRecord& record);
  int Get();
  int Peek();
  void SkipLine();

  std::istream& mIn;
  const std::size_t mMaxRecordBytes;
  std::vector<char> mBuffer;
  std::size_t mPos = 0;
  std::size_t mEnd = 0;
  std::size_t mLine = 1;
  bool mStarted = false;
};

}  // namespace fm
