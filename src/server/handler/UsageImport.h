#pragma once

#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Usage.h"
#include "server/store/UseTypes.h"

// Import files of uses (docs/usage.md: the header row form_type,number,disposition,used_on,
// officer,reference,note, then one use a line) and uses held in memory, as the batches
// Store::RecordUses takes. Whoever reads uses goes through these: the command line, the HTTP
// front, message type 37.
namespace fm::server {

// The bytes of an import file, opened anew for each reading.
using ByteSource = std::function<std::unique_ptr<std::istream>()>;

// A file's bytes. Opening throws RequestError when the file cannot be read.
ByteSource FileBytes(const std::filesystem::path& file);
// A text in memory (a request's body), read in place: it must outlive the batch.
ByteSource TextBytes(std::string_view text);

// An import file as a batch: its bytes are hashed (SHA-256) at once, and every reading of its
// lines reads them anew, checking that they are still those bytes. A first line that is not
// the header is the one bad line of the file; a line the CSV reader refuses, or of another
// number of fields, is a bad line as it stands. Throws RequestError (nothing read further)
// for a file of more than rules.limits.fileBytes bytes, or one that cannot be read; reading
// the lines throws it for a file that changed.
UseBatch CsvUseBatch(std::string fileName, ByteSource bytes, std::string sourceText,
                     UseRules rules);

// Uses held in memory (a JSON body's, a person's record) as a batch's lines, the n-th use
// being line n. A use with a `to` stands for each number from its number to `to`, all on its
// line; a span that is not two whole numbers in order, or of more than `spanNumbers`
// numbers, is a bad line.
UseLines ListedUseLines(std::vector<protocol::ReportedUse> uses, std::int64_t spanNumbers);

}  // namespace fm::server
