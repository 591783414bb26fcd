// The look before toml++: a scan of the text that knows just enough TOML to tell strings and
// comments (where any character may stand) from the rest, and table headers (a '[' opening a
// line outside any array or inline table) from arrays.
#include "ferrox/vpc/description/toml_guard.h"

namespace vpc::machine_file {

namespace {

bool is_ascii_key_start(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '"' || c == '\'';
}

class Scan {
 public:
  explicit Scan(std::string_view text) : text_(text) {}

  std::optional<TomlRefusal> run() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        line_start_ = true;
        ++pos_;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
        continue;
      }
      if (static_cast<unsigned char>(c) >= 0x80)
        return TomlRefusal{line_, "a character outside ASCII, which TOML allows only in strings and comments"};
      bool statement_start = line_start_ && depth_ == 0;
      line_start_ = false;
      if (c == '[' && statement_start) {
        if (!header_has_key()) return TomlRefusal{line_, "a table header without a key"};
      } else {
        step(c);
      }
    }
    return std::nullopt;
  }

 private:
  bool at(std::string_view s) const { return text_.substr(pos_, s.size()) == s; }

  void step(char c) {
    switch (c) {
      case '#': skip_comment(); break;
      case '"': at(R"(""")") ? skip_string(R"(""")", true) : skip_string("\"", true); break;
      case '\'': at("'''") ? skip_string("'''", false) : skip_string("'", false); break;
      case '[':
      case '{': ++depth_, ++pos_; break;
      case ']':
      case '}':
        if (depth_ > 0) --depth_;
        ++pos_;
        break;
      default: ++pos_;
    }
  }

  void skip_comment() {
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
  }

  // A string ends at its delimiter (a multi-line one takes up to two more quotes as its own), or
  // unterminated at the end of its line (single-line) or of the text.
  void skip_string(std::string_view delimiter, bool escapes) {
    bool multi_line = delimiter.size() == 3;
    pos_ += delimiter.size();
    while (pos_ < text_.size()) {
      if (at(delimiter)) {
        pos_ += delimiter.size();
        for (int extra = 0; multi_line && extra < 2 && pos_ < text_.size() && text_[pos_] == delimiter[0]; ++extra) ++pos_;
        return;
      }
      char c = text_[pos_];
      if (c == '\n') {
        if (!multi_line) return;
        ++line_;
      }
      if (escapes && c == '\\' && pos_ + 1 < text_.size()) {
        if (text_[pos_ + 1] == '\n') ++line_;
        ++pos_;
      }
      ++pos_;
    }
  }

  // After "[" or "[[" and blanks, a key must start: toml++ reads one without looking first. (The
  // end of the text and "]" toml++ reports itself.)
  bool header_has_key() {
    std::size_t next = pos_ + 1;
    if (next < text_.size() && text_[next] == '[') ++next;
    while (next < text_.size() && (text_[next] == ' ' || text_[next] == '\t')) ++next;
    pos_ = next;
    return next >= text_.size() || text_[next] == ']' || is_ascii_key_start(text_[next]);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::uint32_t line_ = 1;
  bool line_start_ = true;
  int depth_ = 0;  // of arrays and inline tables
};

}  // namespace

std::optional<TomlRefusal> refuse_before_toml(std::string_view text) { return Scan(text).run(); }

}  // namespace vpc::machine_file
