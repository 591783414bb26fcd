// SPDX-License-Identifier: MIT
// Fuzz target: the form reader, and the writer on what it read. A form that reads is written;
// the writing reads back and writes the same text again, and a form that does not read leaves no
// component alive.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "ferrox/framework/Forms.h"
#include "ferrox/framework/Registry.h"

namespace {

// A form class with published methods for events to name, and a container for nesting.
class TFuzzForm : public ferrox::framework::TComponent {
 public:
  using TComponent::TComponent;
  void Ferrox1HwInterrupt(std::uint16_t) {}
  void Ferrox2HwInterrupt(std::uint16_t) {}
};

// Counts its living instances, to see what a form that does not read leaves behind.
class TFuzzPanel : public ferrox::framework::TComponent {
 public:
  explicit TFuzzPanel(TComponent* AOwner) : TComponent(AOwner) { ++Live; }
  ~TFuzzPanel() override { --Live; }
  static inline int Live = 0;
};

void check(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "form: %s\n", rule);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static const ferrox::framework::TClassInfo form = ferrox::framework::ComponentClass<TFuzzForm>(
      "TFuzzForm", {},
      {ferrox::framework::PublishedMethod<&TFuzzForm::Ferrox1HwInterrupt>("Ferrox1HwInterrupt"),
       ferrox::framework::PublishedMethod<&TFuzzForm::Ferrox2HwInterrupt>("Ferrox2HwInterrupt")});
  static const ferrox::framework::TClassInfo panel = ferrox::framework::ComponentClass<TFuzzPanel>("TFuzzPanel", {});
  ferrox::framework::RegisterClass(form);
  ferrox::framework::RegisterClass(panel);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto form = ferrox::framework::ReadForm(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!form) {
    check(TFuzzPanel::Live == 0, "a form that does not read left a component alive");
    return 0;
  }
  auto written = ferrox::framework::WriteForm(**form);
  check(written.ok(), "a form that was read cannot be written");
  auto again = ferrox::framework::ReadForm(*written);
  check(again.ok(), "a written form does not read back");
  auto rewritten = ferrox::framework::WriteForm(**again);
  check(rewritten.ok() && *rewritten == *written, "a written form reads back as another");
  form->reset();
  again->reset();
  check(TFuzzPanel::Live == 0, "a form freed left a component alive");
  return 0;
}
