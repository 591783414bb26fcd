// SPDX-License-Identifier: MIT
// Reading forms. Components are created as their object lines are read and owned by the object
// they are nested in, so the root owns everything read; on any error the root is freed and with
// it every component read so far.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

#include "ferrox/framework/Forms.h"
#include "ferrox/framework/Registry.h"

namespace ferrox::framework {

namespace {

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsIdentifier(std::string_view text) {
  auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  return !text.empty() && letter(text.front()) &&
         std::all_of(text.begin(), text.end(), [&](char c) { return letter(c) || digit(c); });
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Decimal, or hexadecimal after '$'.
std::optional<std::int64_t> Integer(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

class FormReader {
 public:
  Result<TComponentPtr> Read(std::string_view text) {
    for (std::size_t start = 0; start <= text.size();) {
      std::size_t end = std::min(text.find('\n', start), text.size());
      ++line_;
      if (Status read = ReadLine(Trim(text.substr(start, end - start))); !read) return Error{read.error().Message, line_};
      start = end + 1;
    }
    if (!root_) return Error{"the form holds no object", 1};
    if (!open_.empty()) return Error{"object " + open_.back().component->Name() + " is never closed by end", open_.back().line};
    return std::move(root_);
  }

 private:
  struct OpenObject {
    TComponent* component;
    const TClassInfo* component_class;
    int line;
  };

  Status ReadLine(std::string_view line) {
    if (line.empty()) return Done{};
    if (root_ && open_.empty()) return Error{"text after the end of the form"};
    if (line == "end") return EndObject();
    if (line.starts_with("object") && line.size() > 6 && std::isspace(static_cast<unsigned char>(line[6])))
      return BeginObject(line.substr(6));
    std::size_t equals = line.find('=');
    if (equals != std::string_view::npos) return AssignProperty(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
    return Error{"expected \"object Name: Class\", \"Property = Value\" or \"end\", found " + Quoted(line)};
  }

  Status BeginObject(std::string_view header) {
    std::size_t colon = header.find(':');
    if (colon == std::string_view::npos) return Error{"expected \"object Name: Class\""};
    std::string_view name = Trim(header.substr(0, colon));
    std::string_view class_name = Trim(header.substr(colon + 1));
    if (!IsIdentifier(name)) return Error{"invalid component name " + Quoted(name)};
    const TClassInfo* component_class = FindClass(class_name);
    if (!component_class) return Error{"class " + Quoted(class_name) + " is not registered"};
    TComponent* owner = open_.empty() ? nullptr : open_.back().component;
    if (owner && HasOwned(*owner, name)) return Error{"a second component named " + Quoted(name)};
    TComponent* component = component_class->Create(owner);
    if (!owner) root_.reset(component);
    component->SetName(std::string(name));
    open_.push_back({component, component_class, line_});
    return Done{};
  }

  Status EndObject() {
    if (open_.empty()) return Error{"end without an object"};
    open_.pop_back();
    return Done{};
  }

  Status AssignProperty(std::string_view name, std::string_view text) {
    if (open_.empty()) return Error{"a property outside any object"};
    const OpenObject& object = open_.back();
    const TPropertyInfo* property = object.component_class->FindProperty(name);
    if (!property) return Error{object.component_class->ClassName + " has no published property " + Quoted(name)};
    FERROX_TRY_ASSIGN(TValue value, Value(*property, text));
    property->Write(*object.component, value);
    return Done{};
  }

  Result<TValue> Value(const TPropertyInfo& property, std::string_view text) {
    switch (property.Kind) {
      case TTypeKind::Boolean:
        if (EqualsIgnoringCase(text, "True")) return TValue{true};
        if (EqualsIgnoringCase(text, "False")) return TValue{false};
        return Error{property.Name + " takes True or False, not " + Quoted(text)};
      case TTypeKind::Ordinal: {
        std::optional<std::int64_t> number = Integer(text);
        if (!number) return Error{property.Name + " takes a whole number, not " + Quoted(text)};
        if (*number < property.MinValue || *number > property.MaxValue)
          return Error{property.Name + " = " + std::to_string(*number) + " lies outside " +
                       std::to_string(property.MinValue) + ".." + std::to_string(property.MaxValue)};
        return TValue{*number};
      }
      case TTypeKind::Method:
        return Method(property, text);
    }
    return Error{"property " + property.Name + " is of no known kind"};
  }

  // Events name a published method of the form, the object read first.
  Result<TValue> Method(const TPropertyInfo& property, std::string_view name) {
    const OpenObject& form = open_.front();
    const TPublishedMethod* method = form.component_class->FindMethod(name);
    if (!method) return Error{form.component_class->ClassName + " has no published method " + Quoted(name)};
    if (!method->CodeType || !property.CodeType || *method->CodeType != *property.CodeType)
      return Error{"method " + Quoted(name) + " does not fit event " + property.Name};
    return TValue{TMethod{method->Code, form.component}};
  }

  static bool HasOwned(const TComponent& owner, std::string_view name) {
    const auto& owned = owner.Components();
    return std::any_of(owned.begin(), owned.end(), [&](const TComponent* c) { return c->Name() == name; });
  }

  TComponentPtr root_;
  std::vector<OpenObject> open_;  // objects begun and not yet ended, the form first
  int line_ = 0;
};

}  // namespace

Result<TComponentPtr> ReadForm(std::string_view Text) { return FormReader().Read(Text); }

}  // namespace ferrox::framework
