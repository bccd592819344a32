#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/Messages.h"

namespace fm::protocol {

// Writes JSON straight into a caller's text, value by value, so a large message is never
// held as a tree first. The bytes are those protocol/Json.h writes for the same values (no
// blanks, the same escapes, bytes that are not UTF-8 replaced by U+FFFD), so a message
// written either way reads the same and compares equal as text.
//
// The caller writes a well-formed sequence: a Key before every value inside an object, none
// inside an array; the writer places the commas and colons and checks nothing else.
class JsonWriter {
 public:
  // Appends to `out`; what it holds already stays in front.
  explicit JsonWriter(std::string& out) : mOut(out) {}

  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  void Key(std::string_view name);
  void String(std::string_view text);
  void Integer(std::int64_t value);
  void Double(double value);
  void Bool(bool value);
  void Null();
  // A cell as its column type says: null, integer, double or text.
  void Value(const Cell& cell);
  // {"columns": [{"name": ..., "type": ...}, ...], "rows": [[...], ...]}
  void WriteDataSet(const DataSet& set);
  // {"name": ..., "type": ...} of every column, as an array.
  void WriteColumns(const std::vector<Column>& columns);

 private:
  void Separate() {
    if (mAfterKey) {
      mAfterKey = false;
    } else if (!mFirst) {
      mOut.push_back(',');
    }
    mFirst = false;
  }
  void Open(char bracket) {
    Separate();
    mOut.push_back(bracket);
    mFirst = true;
  }
  void Close(char bracket) {
    mOut.push_back(bracket);
    mFirst = false;
  }
  void Quoted(std::string_view text);

  std::string& mOut;
  bool mFirst = true;      // the next value is the first of its container
  bool mAfterKey = false;  // a key has been written; its value comes next
};

}  // namespace fm::protocol
