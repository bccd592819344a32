#include "server/handler/UsageImport.h"

#include <fmt/format.h>
#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <streambuf>

#include "base/CsvReader.h"
#include "base/Numbers.h"
#include "base/Text.h"
#include "server/handler/RequestError.h"

namespace fm::server {

namespace {

constexpr std::size_t kBlockBytes = std::size_t{64} * 1024;

// The bytes of another stream, handed on block by block while they are hashed and counted.
// Past `limit` bytes it ends the input (OverLimit() tells), so a reader never sees more.
class HashingBuffer : public std::streambuf {
 public:
  HashingBuffer(std::istream& in, std::uint64_t limit)
      : mIn(in), mLimit(limit), mContext(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
    if (!mContext || EVP_DigestInit_ex(mContext.get(), EVP_sha256(), nullptr) != 1) {
      throw RequestError("the SHA-256 hash of the file cannot be computed (OpenSSL failed)");
    }
  }

  bool OverLimit() const { return mBytes > mLimit; }
  bool Failed() const { return mIn.bad(); }
  // The hash of every byte read, in lowercase hex; the input must have been read to its end.
  std::string Hex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned size = 0;
    if (EVP_DigestFinal_ex(mContext.get(), digest.data(), &size) != 1) {
      throw RequestError("the SHA-256 hash of the file cannot be computed (OpenSSL failed)");
    }
    std::string hex;
    for (unsigned i = 0; i < size; ++i) hex += fmt::format("{:02x}", digest[i]);
    return hex;
  }
  // Reads to the end, for the hash of the whole.
  void Drain() {
    while (underflow() != traits_type::eof()) setg(mBlock.data(), egptr(), egptr());
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (OverLimit() || !mIn) return traits_type::eof();
    mIn.read(mBlock.data(), static_cast<std::streamsize>(mBlock.size()));
    const auto got = static_cast<std::size_t>(mIn.gcount());
    if (got == 0) return traits_type::eof();
    mBytes += got;
    if (OverLimit()) return traits_type::eof();
    EVP_DigestUpdate(mContext.get(), mBlock.data(), got);
    setg(mBlock.data(), mBlock.data(), mBlock.data() + got);
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::istream& mIn;
  const std::uint64_t mLimit;
  std::uint64_t mBytes = 0;
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> mContext;
  std::array<char, kBlockBytes> mBlock{};
};

// A text read in place.
class ViewBuffer : public std::streambuf {
 public:
  explicit ViewBuffer(std::string_view text) {
    char* data = const_cast<char*>(text.data());  // only ever read
    setg(data, data, data + text.size());
  }
};

class ViewStream : public std::istream {
 public:
  explicit ViewStream(std::string_view text) : std::istream(nullptr), mBuffer(text) {
    rdbuf(&mBuffer);
  }

 private:
  ViewBuffer mBuffer;
};

std::string TooLarge(const std::string& fileName, std::uint64_t limit) {
  return fmt::format(
      "The file {} is larger than {} bytes, the most an import takes (the usage file limit); "
      "nothing was recorded. Split it, or raise the limit.",
      fileName, limit);
}

std::string HeaderText() {
  std::string header;
  for (const char* column : protocol::kUseFileColumns)
    header += (header.empty() ? "" : ",") + std::string(column);
  return header;
}

}  // namespace

ByteSource FileBytes(const std::filesystem::path& file) {
  return [file] {
    auto in = std::make_unique<std::ifstream>(file, std::ios::binary);
    if (!*in) throw RequestError(fmt::format("The file {} cannot be read", file.string()));
    return std::unique_ptr<std::istream>(std::move(in));
  };
}

ByteSource TextBytes(std::string_view text) {
  return [text] { return std::unique_ptr<std::istream>(std::make_unique<ViewStream>(text)); };
}

UseBatch CsvUseBatch(std::string fileName, ByteSource bytes, std::string sourceText,
                     UseRules rules) {
  const std::uint64_t limit = rules.limits.fileBytes;
  std::string hash;
  {
    auto in = bytes();
    HashingBuffer hashing(*in, limit);
    hashing.Drain();
    if (hashing.OverLimit()) throw RequestError(TooLarge(fileName, limit));
    if (hashing.Failed()) throw RequestError(fmt::format("The file {} cannot be read", fileName));
    hash = hashing.Hex();
  }
  UseBatch batch;
  batch.source = {fileName, hash};
  batch.sourceText = std::move(sourceText);
  const std::size_t lineBytes = rules.limits.lineBytes;
  batch.rules = std::move(rules);
  batch.lines = [bytes = std::move(bytes), fileName, hash, limit,
                 lineBytes](const std::function<void(const UseLine&)>& each) {
    auto in = bytes();
    HashingBuffer hashing(*in, limit);
    std::istream csv(&hashing);
    CsvReader reader(csv, lineBytes);
    CsvRecord record;
    UseLine line;
    constexpr std::size_t kColumns = std::size(protocol::kUseFileColumns);
    if (!reader.Next(record)) {
      each({1,
            {},
            fmt::format("the file is empty; its first line must be the header {}", HeaderText())});
      return;
    }
    bool header = record.error.empty() && record.fields.size() == kColumns;
    for (std::size_t i = 0; header && i < kColumns; ++i) {
      header = text::Trim(record.fields[i]) == protocol::kUseFileColumns[i];
    }
    if (!header) {
      std::string found;
      for (const auto& f : record.fields) found += (found.empty() ? "" : ",") + f;
      each({static_cast<std::int64_t>(record.line),
            {},
            fmt::format("the first line must be the header {}; it is \"{}\"", HeaderText(),
                        found.substr(0, 200))});
      return;
    }
    while (reader.Next(record)) {
      line.line = static_cast<std::int64_t>(record.line);
      line.problem.clear();
      if (!record.error.empty()) {
        line.problem = record.error;
      } else if (record.fields.size() != kColumns) {
        line.problem = fmt::format("the line has {} fields; each line has the {} of the header",
                                   record.fields.size(), kColumns);
      } else {
        protocol::ReportedUse& use = line.use;
        use.formType = std::move(record.fields[0]);
        use.number = std::move(record.fields[1]);
        use.disposition = std::move(record.fields[2]);
        use.usedOn = std::move(record.fields[3]);
        use.officer = std::move(record.fields[4]);
        use.reference = std::move(record.fields[5]);
        use.note = std::move(record.fields[6]);
      }
      each(line);
    }
    if (hashing.OverLimit()) throw RequestError(TooLarge(fileName, limit));
    if (hashing.Failed()) throw RequestError(fmt::format("The file {} cannot be read", fileName));
    hashing.Drain();
    if (hashing.OverLimit() || hashing.Hex() != hash) {
      throw RequestError(fmt::format(
          "The file {} changed while it was being imported; nothing was recorded.", fileName));
    }
  };
  return batch;
}

UseLines ListedUseLines(std::vector<protocol::ReportedUse> uses, std::int64_t spanNumbers) {
  auto held = std::make_shared<const std::vector<protocol::ReportedUse>>(std::move(uses));
  return [held, spanNumbers](const std::function<void(const UseLine&)>& each) {
    UseLine line;
    for (std::size_t i = 0; i < held->size(); ++i) {
      const protocol::ReportedUse& use = (*held)[i];
      line.line = static_cast<std::int64_t>(i + 1);
      line.use = use;
      line.use.to.clear();
      line.problem.clear();
      if (text::TrimBlanks(use.to).empty()) {
        each(line);
        continue;
      }
      const auto from = text::WholeNumber(use.number);
      const auto to = text::WholeNumber(use.to);
      if (!from || !to || *from < 0 || *to < *from) {
        line.problem = fmt::format(
            "the span from \"{}\" to \"{}\" is not two form numbers, the first not above the "
            "second",
            use.number.substr(0, 40), use.to.substr(0, 40));
      } else if (*to - *from >= spanNumbers) {
        line.problem = fmt::format("the span {}-{} has {} numbers; one line spans at most {}",
                                   *from, *to, *to - *from + 1, spanNumbers);
      }
      if (!line.problem.empty()) {
        each(line);
        continue;
      }
      for (std::int64_t n = *from; n <= *to; ++n) {
        line.use.number = std::to_string(n);
        each(line);
      }
    }
  };
}

}  // namespace fm::server
