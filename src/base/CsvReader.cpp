#include "base/CsvReader.h"

#include <string_view>

namespace fm {

namespace {

constexpr int kEnd = -1;
constexpr std::size_t kBufferBytes = std::size_t{64} * 1024;

}  // namespace

CsvReader::CsvReader(std::istream& in, std::size_t maxRecordBytes)
    : mIn(in), mMaxRecordBytes(maxRecordBytes), mBuffer(kBufferBytes) {}

int CsvReader::Peek() {
  if (mPos == mEnd) {
    if (!mIn) return kEnd;
    mIn.read(mBuffer.data(), static_cast<std::streamsize>(mBuffer.size()));
    mPos = 0;
    mEnd = static_cast<std::size_t>(mIn.gcount());
    if (mEnd == 0) return kEnd;
  }
  return static_cast<unsigned char>(mBuffer[mPos]);
}

int CsvReader::Get() {
  const int c = Peek();
  if (c != kEnd) {
    ++mPos;
    if (c == '\n') ++mLine;
  }
  return c;
}

void CsvReader::SkipLine() {
  for (int c = Get(); c != kEnd && c != '\n'; c = Get()) {
  }
}

bool CsvReader::Next(CsvRecord& record) {
  if (!mStarted) {
    mStarted = true;
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    // A BOM is only ever whole at the start; anything else is left for the first field.
    if (Peek() == 0xEF && mEnd - mPos >= kBom.size() &&
        std::string_view(mBuffer.data() + mPos, kBom.size()) == kBom) {
      mPos += kBom.size();
    }
  }
  // Empty lines (a CR LF alone included) are no records.
  for (;;) {
    if (Peek() == kEnd) return false;
    if (ReadRecord(record)) return true;
  }
}

// Reads one record; false when it was an empty line.
bool CsvReader::ReadRecord(CsvRecord& record) {
  record.line = mLine;
  record.error.clear();
  std::size_t count = 1;
  if (record.fields.empty()) record.fields.emplace_back();
  record.fields[0].clear();
  std::size_t bytes = 0;
  auto fail = [&](std::string why) {
    record.error = std::move(why);
    record.fields.resize(count);
    SkipLine();
    return true;
  };
  auto newField = [&] {
    if (record.fields.size() == count) record.fields.emplace_back();
    record.fields[count++].clear();
  };
  bool quoted = false;      // inside a quoted field
  bool fieldStart = true;   // nothing of the current field read yet
  bool afterQuote = false;  // the current field's closing quote was read
  bool quotes = false;      // the line holds a quote: `""` alone is a record, not an empty line
  for (;;) {
    const int c = Get();
    if (c == kEnd) {
      if (quoted) {
        record.error = "a quoted field is not closed before the end of the file";
        record.fields.resize(count);
        return true;
      }
      break;
    }
    if (++bytes > mMaxRecordBytes) {
      if (c == '\n') break;
      return fail("the line is longer than " + std::to_string(mMaxRecordBytes) + " bytes");
    }
    std::string& field = record.fields[count - 1];
    if (quoted) {
      if (c != '"') {
        field.push_back(static_cast<char>(c));
      } else if (Peek() == '"') {
        Get();
        ++bytes;
        field.push_back('"');
      } else {
        quoted = false;
        afterQuote = true;
      }
      continue;
    }
    if (c == ',') {
      newField();
      fieldStart = true;
      afterQuote = false;
      continue;
    }
    if (c == '\n') break;
    if (c == '\r' && Peek() == '\n') continue;  // CR LF ends the record at the LF
    if (afterQuote) return fail("there is text after the closing double quote of a field");
    if (c == '"') {
      if (!fieldStart) return fail("a field that does not start with a double quote holds one");
      quoted = quotes = true;
      fieldStart = false;
      continue;
    }
    fieldStart = false;
    field.push_back(static_cast<char>(c));
  }
  record.fields.resize(count);
  return count > 1 || quotes || !record.fields[0].empty();
}

}  // namespace fm
