// SPDX-License-Identifier: MIT
// The look before toml++: a scan of the text that knows just enough TOML to tell strings and
// comments (where any character may stand) from the rest, keys from values, table headers (a '['
// opening a line outside any array or inline table) from arrays, and which of an array or an
// inline table a closing bracket ends.
//
// toml++ asks whether a character is whitespace wherever a token may end, and its answer for many
// characters outside ASCII is undefined. So such a character may stand only where toml++ reads
// it as string content: inside a string that opens where a string may open, and not right after
// a backslash (with blanks and line breaks between) in a multi-line basic string, where toml++
// looks for a line-ending backslash's whitespace.
#include "ferrox/vpc/description/toml_guard.h"

namespace ferrox::vpc::machine_file {

namespace {

bool is_ascii_key_start(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '"' || c == '\'';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii(char c) { return static_cast<unsigned char>(c) < 0x80; }
// What a bare value (a number, a date, a boolean) is made of.
bool is_bare_value_part(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '+' || c == '-' || c == ':';
}
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
// Where toml++ ends a value it reads: whitespace, or ']', '}', ',' and '#'.
bool ends_value(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || c == ']' || c == '}' || c == ',' || c == '#';
}
// What cannot start a bare value: the characters that open or close something, or end a value.
bool starts_bare_value(char c) {
  return !ends_value(c) && c != '"' && c != '\'' && c != '[' && c != '{' && c != '=';
}

constexpr const char* OutsideAscii = "a character outside ASCII, which TOML allows only in strings and comments";
constexpr const char* GluedToValue = "a value followed by '=', '[' or '{', where ',' or the line's end must stand";

class Scan {
 public:
  explicit Scan(std::string_view text) : text_(text) {}

  std::optional<TomlRefusal> run() {
    while (pos_ < text_.size() && !refusal_) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        if (open_.empty()) start_statement();
        ++pos_;
      } else if (is_blank(c)) {
        ++pos_;
      } else if (!is_ascii(c)) {
        refuse(OutsideAscii);
      } else {
        token(c);
      }
    }
    return refusal_;
  }

 private:
  bool at(std::string_view s) const { return text_.substr(pos_, s.size()) == s; }
  void refuse(const char* what) { refusal_ = TomlRefusal{line_, what}; }

  void start_statement() {
    previous_ = '\n';
    key_ = true;
  }

  // Where a string may open: at the start of a key or a value, or after a dot in a key.
  bool string_may_open() const {
    return previous_ == '\n' || previous_ == '=' || previous_ == '[' || previous_ == '{' || previous_ == ',' ||
           (previous_ == '.' && key_);
  }

  void token(char c) {
    if (c == '#') return skip_comment();
    if (c == '"' || c == '\'') {
      if (!string_may_open()) return refuse("a quote inside a bare key or value");
      skip_string(c);
      previous_ = c;
      return;
    }
    if (c == '[' && previous_ == '\n' && open_.empty()) return table_header();
    if (!key_ && starts_bare_value(c)) return bare_value();
    if (c == '}' && !open_.empty() && open_.back() == '[') return refuse("a '}' in an array, where a value or ']' must stand");
    // Past blanks toml++ may read a date's time part, and on to the next blank from there.
    if ((c == '=' || c == '[' || c == '{') && !key_ && is_bare_value_part(previous_))
      return refuse(GluedToValue);
    switch (c) {
      case '=': key_ = false; break;
      case '[': open_.push_back(c), key_ = false; break;
      case '{': open_.push_back(c), key_ = true; break;
      case ']':
      case '}':
        if (!open_.empty()) open_.pop_back();
        key_ = false;
        break;
      case ',': key_ = !open_.empty() && open_.back() == '{'; break;
    }
    previous_ = c;
    ++pos_;
  }

  // toml++ reads a value that is not a string, an array or an inline table (a number, a date, a
  // boolean, or a malformed one) on to the next character that ends a value, through any quote or
  // bracket there. So such a run is refused unless it is made of what those values are made of.
  void bare_value() {
    std::string counted;  // the run as toml++ counts it, without underscores
    const std::size_t start = pos_;
    for (; pos_ < text_.size() && !ends_value(text_[pos_]); ++pos_) {
      char c = text_[pos_];
      if (!is_ascii(c)) return refuse(OutsideAscii);
      if (c == '"' || c == '\'') return refuse("a quote inside a bare key or value");
      if (c == '=' || c == '[' || c == '{') return refuse(GluedToValue);
      if (!is_bare_value_part(c)) return refuse("a character that no number, date or boolean holds");
      if (c != '_') counted += c;
      previous_ = c;
    }
    // After a date and one space toml++ takes a digit for a time's start, and asserts that more
    // of the time follows it.
    if (is_date(counted) && at(" ") && pos_ + 2 < text_.size() && is_digit(text_[pos_ + 1]) && ends_value(text_[pos_ + 2]))
      return refuse("a date followed by a time of one digit");
    // After a date and a 'T' toml++ asserts that a time's digit follows.
    if (lacks_time_after_t(text_.substr(start, pos_ - start)) || lacks_time_after_t(counted))
      refuse("a date and 'T' without a time after it");
  }

  static bool lacks_time_after_t(std::string_view run) {
    return run.size() > 10 && is_date(run.substr(0, 10)) && (run[10] == 'T' || run[10] == 't') &&
           (run.size() == 11 || !is_digit(run[11]));
  }

  // What may be a date that a time follows after a space, to toml++: ten characters, a digit
  // first and dashes fifth and eighth (toml++ asks more of the rest, in ways that differ by letter:
  // any such run is refused, none of them is valid before one digit).
  static bool is_date(std::string_view run) {
    return run.size() == 10 && is_digit(run[0]) && run[4] == '-' && run[7] == '-';
  }

  void skip_comment() {
    while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
  }

  // "[" or "[[" and blanks: a key must follow, as toml++ reads one without looking first. (The
  // end of the text and "]" toml++ reports itself.)
  void table_header() {
    std::size_t next = pos_ + 1;
    if (next < text_.size() && text_[next] == '[') ++next;
    while (next < text_.size() && (text_[next] == ' ' || text_[next] == '\t')) ++next;
    pos_ = next;
    if (next < text_.size() && text_[next] != ']' && !is_ascii_key_start(text_[next]))
      return refuse("a table header without a key");
    previous_ = '[';
    key_ = true;
  }

  // A string ends at its delimiter (a multi-line one takes up to two more quotes as its own), or
  // unterminated at the end of its line (single-line) or of the text.
  void skip_string(char quote) {
    const std::string delimiter(at(std::string(3, quote)) ? 3 : 1, quote);
    bool multi_line = delimiter.size() == 3, escapes = quote == '"';
    pos_ += delimiter.size();
    while (pos_ < text_.size()) {
      if (at(delimiter)) {
        pos_ += delimiter.size();
        for (int extra = 0; multi_line && extra < 2 && pos_ < text_.size() && text_[pos_] == quote; ++extra) ++pos_;
        return;
      }
      char c = text_[pos_];
      if (c == '\n') {
        if (!multi_line) return;
        ++line_;
      }
      ++pos_;
      if (escapes && c == '\\') escape(multi_line);
      if (refusal_) return;
    }
  }

  // After a backslash: the escaped character, or in a multi-line string blanks and line breaks
  // up to the next character, which toml++ tests for whitespace.
  void escape(bool multi_line) {
    std::size_t next = pos_;
    while (multi_line && next < text_.size() && (is_blank(text_[next]) || text_[next] == '\n')) ++next;
    if (next < text_.size() && !is_ascii(text_[next]) && multi_line)
      return refuse("a character outside ASCII after a backslash in a multi-line string");
    // The escaped character, so that an escaped quote stays in the string.
    if (next == pos_ && pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::uint32_t line_ = 1;
  std::string open_;        // the arrays ('[') and inline tables ('{') open here, innermost last
  char previous_ = '\n';    // the last character of the last token; '\n' at a statement's start
  bool key_ = true;         // a key is being read, not a value
  std::optional<TomlRefusal> refusal_;
};

}  // namespace

std::optional<TomlRefusal> refuse_before_toml(std::string_view text) { return Scan(text).run(); }

}  // namespace ferrox::vpc::machine_file
