#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fm {

// The parameter text that carries the fields of a selected range from the document to a
// dialog: the fields joined by "~".
//
// A field may itself hold "~" (a clerk may type one into a comment), which would split it
// apart. Each field is therefore escaped before it is joined: "%" becomes "%25" and "~"
// becomes "%7E". A field without either character travels unchanged, so the text of an
// ordinary range is exactly its fields joined by "~". Splitting undoes the escapes; a "%"
// that starts neither escape is kept as it stands, so a text written by hand without
// escapes still reads as meant.
std::string JoinParameterFields(const std::vector<std::string>& fields);

// Splits at every "~" (any number of pieces) and undoes the escapes of each piece.
std::vector<std::string> SplitParameterFields(std::string_view parameters);

}  // namespace fm
