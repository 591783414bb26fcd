// SPDX-License-Identifier: MIT
// Writing forms.
#include <string>

#include "ferrox/framework/Forms.h"
#include "ferrox/framework/Registry.h"

namespace ferrox::framework {

namespace {

class FormWriter {
 public:
  explicit FormWriter(const TComponent& root) : root_(root), root_class_(ClassOf(root)) {}

  Status WriteObject(const TComponent& component, int depth) {
    const TClassInfo* component_class = ClassOf(component);
    if (!component_class) return Error{"component \"" + component.Name() + "\" is of no registered class"};
    if (component.Name().empty()) return Error{"a " + component_class->ClassName + " without a name cannot be stored"};
    std::string indent(2 * depth, ' ');
    out_ += indent + "object " + component.Name() + ": " + component_class->ClassName + "\n";
    for (const TPropertyInfo& property : component_class->Properties) {
      if (Status written = WriteProperty(component, property, indent + "  "); !written) return written;
    }
    for (const TComponent* owned : component.Components()) {
      if (Status written = WriteObject(*owned, depth + 1); !written) return written;
    }
    out_ += indent + "end\n";
    return Done{};
  }

  std::string& Text() { return out_; }

 private:
  Status WriteProperty(const TComponent& component, const TPropertyInfo& property, const std::string& indent) {
    if (!property.Stored) return Done{};
    TValue value = property.Read(component);
    if (property.Default && value == *property.Default) return Done{};
    std::string text;
    if (const bool* flag = std::get_if<bool>(&value)) {
      text = *flag ? "True" : "False";
    } else if (const std::int64_t* number = std::get_if<std::int64_t>(&value)) {
      text = std::to_string(*number);
    } else {
      const TMethod& method = std::get<TMethod>(value);
      if (!method.Code) return Done{};  // an unassigned event is the default
      const TPublishedMethod* published = root_class_ ? root_class_->FindMethod(method.Code) : nullptr;
      if (!published || method.Data != static_cast<const void*>(&root_))
        return Error{property.Name + " of " + component.Name() + " is bound to no published method of " + root_.Name()};
      text = published->Name;
    }
    out_ += indent + property.Name + " = " + text + "\n";
    return Done{};
  }

  const TComponent& root_;
  const TClassInfo* root_class_;
  std::string out_;
};

}  // namespace

Result<std::string> WriteForm(const TComponent& Root) {
  FormWriter writer(Root);
  FERROX_TRY(writer.WriteObject(Root, 0));
  return std::move(writer.Text());
}

}  // namespace ferrox::framework
