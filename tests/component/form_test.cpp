// SPDX-License-Identifier: MIT
// Forms holding TFerrox32: what is written, what loading does through the accessors, events bound
// by name, nesting and ownership, and malformed forms.
#include <string>
#include <vector>

#include "ferrox/component/Ferrox32.h"
#include "ferrox/framework/Forms.h"
#include "ferrox/framework/Registry.h"
#include "tests/support/virtual_pc.h"

using ferrox::TFerrox32;
using ferrox::Word;
using ferrox::framework::TComponent;

namespace {

class TTestForm : public TComponent {
 public:
  using TComponent::TComponent;
  void Ferrox1HwInterrupt(Word IrqNumber) { interrupts.push_back(IrqNumber); }
  void FormClick() {}
  std::vector<Word> interrupts;
};

// Counts its living instances, to see what a failed load leaves behind.
class TTestPanel : public TComponent {
 public:
  explicit TTestPanel(TComponent* AOwner) : TComponent(AOwner) { ++Live; }
  ~TTestPanel() override { --Live; }
  static inline int Live = 0;
};

const ferrox::framework::TClassInfo& FormClass() {
  static const ferrox::framework::TClassInfo info = ferrox::framework::ComponentClass<TTestForm>(
      "TTestForm", {},
      {ferrox::framework::PublishedMethod<&TTestForm::Ferrox1HwInterrupt>("Ferrox1HwInterrupt"),
       ferrox::framework::PublishedMethod<&TTestForm::FormClick>("FormClick")});
  return info;
}

const ferrox::framework::TClassInfo& PanelClass() {
  static const ferrox::framework::TClassInfo info = ferrox::framework::ComponentClass<TTestPanel>("TTestPanel", {});
  return info;
}

class FormTest : public VirtualPcTest {
 protected:
  void SetUp() override {
    VirtualPcTest::SetUp();
    ferrox::framework::RegisterClass(FormClass());
    ferrox::framework::RegisterClass(PanelClass());
  }

  static ferrox::framework::TComponentPtr Read(const std::string& text) {
    auto form = ferrox::framework::ReadForm(text);
    EXPECT_TRUE(form.ok()) << form.error().Text();
    return form ? std::move(*form) : nullptr;
  }

  static std::string Write(const TComponent& root) {
    auto text = ferrox::framework::WriteForm(root);
    EXPECT_TRUE(text.ok()) << text.error().Text();
    return text ? *text : "";
  }

  static TFerrox32& FirstFerrox(TComponent& form) { return dynamic_cast<TFerrox32&>(*form.Components().at(0)); }
};

TEST_F(FormTest, TFerrox32PublishesItsThreePropertiesInOrder) {
  const ferrox::framework::TClassInfo* info = ferrox::framework::FindClass("TFerrox32");
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->Properties.size(), 3u);
  EXPECT_EQ(info->Properties[0].Name, "OnHwInterrupt");
  EXPECT_EQ(info->Properties[0].Kind, ferrox::framework::TTypeKind::Method);
  EXPECT_FALSE(info->Properties[0].Default.has_value());
  EXPECT_EQ(info->Properties[1].Name, "HardAccess");
  EXPECT_EQ(info->Properties[1].Default, ferrox::framework::TValue{true});
  EXPECT_EQ(info->Properties[2].Name, "LPTNumber");
  EXPECT_EQ(info->Properties[2].Default, ferrox::framework::TValue{std::int64_t{1}});
  EXPECT_EQ(info->Properties[2].MaxValue, 255);
}

TEST_F(FormTest, DefaultsAreNotWritten) {
  TTestForm* form = TComponent::Create<TTestForm>(nullptr);
  ferrox::framework::TComponentPtr owner(form);
  form->SetName("Form1");
  TComponent::Create<TFerrox32>(form)->SetName("Ferrox1");
  EXPECT_EQ(Write(*form), "object Form1: TTestForm\n  object Ferrox1: TFerrox32\n  end\nend\n");
}

TEST_F(FormTest, HardAccessFalseIsStoredAndRestored) {
  auto form = Read("object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    HardAccess = False\n  end\nend\n");
  ASSERT_TRUE(form);
  if (FirstFerrox(*form).HardAccess()) GTEST_SKIP() << "waits for the privilege model: iopl(3) is not granted here";
  EXPECT_EQ(Write(*form), "object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    HardAccess = False\n  end\nend\n");
}

TEST_F(FormTest, StoredLptNumberIsIgnoredWhileTheDriverIsClosed) {
  auto form = Read("object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    LPTNumber = 2\n  end\nend\n");
  ASSERT_TRUE(form);
  TFerrox32& ferrox = FirstFerrox(*form);
  EXPECT_EQ(ferrox.LPTNumber(), 1);
  EXPECT_EQ(ferrox.LPTBase(), 0x378);
  EXPECT_TRUE(pc.log().entries().empty()) << "loading a form touches neither driver nor ports";
  EXPECT_EQ(Write(*form), "object Form1: TTestForm\n  object Ferrox1: TFerrox32\n  end\nend\n");
}

TEST_F(FormTest, EventIsResolvedByTheNameOfTheFormsMethod) {
  const std::string text =
      "object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    OnHwInterrupt = Ferrox1HwInterrupt\n  end\nend\n";
  auto form = Read(text);
  ASSERT_TRUE(form);
  ferrox::TInterruptHandler handler = FirstFerrox(*form).OnHwInterrupt();
  ASSERT_TRUE(handler.Assigned());
  handler(7);
  EXPECT_EQ(static_cast<TTestForm&>(*form).interrupts, std::vector<Word>{7});
  EXPECT_EQ(Write(*form), text);
  EXPECT_TRUE(pc.log().entries().empty()) << "assigning the event unmasks nothing";
}

TEST_F(FormTest, AHandlerOutsideTheFormsPublishedMethodsCannotBeStored) {
  TTestForm* form = TComponent::Create<TTestForm>(nullptr);
  ferrox::framework::TComponentPtr owner(form);
  form->SetName("Form1");
  TFerrox32* ferrox = TComponent::Create<TFerrox32>(form);
  ferrox->SetName("Ferrox1");
  TTestForm other(nullptr);
  ferrox->SetOnHwInterrupt(ferrox::TInterruptHandler::Bind<&TTestForm::Ferrox1HwInterrupt>(&other));
  auto text = ferrox::framework::WriteForm(*form);
  ASSERT_FALSE(text.ok());
  EXPECT_EQ(text.error().Message, "OnHwInterrupt of Ferrox1 is bound to no published method of Form1");
}

TEST_F(FormTest, OwnedComponentsAreNestedAndFreedWithTheirOwner) {
  const std::string text =
      "object Form1: TTestForm\n"
      "  object Panel1: TTestPanel\n"
      "    object Ferrox1: TFerrox32\n"
      "    end\n"
      "    object Panel2: TTestPanel\n"
      "    end\n"
      "  end\n"
      "end\n";
  auto form = Read(text);
  ASSERT_TRUE(form);
  ASSERT_EQ(form->Components().size(), 1u);
  TComponent* panel = form->Components()[0];
  ASSERT_EQ(panel->Components().size(), 2u);
  EXPECT_EQ(panel->Components()[0]->Owner(), panel);
  EXPECT_EQ(panel->Components()[0]->Name(), "Ferrox1");
  EXPECT_EQ(TTestPanel::Live, 2);
  EXPECT_EQ(Write(*form), text);
  form.reset();
  EXPECT_EQ(TTestPanel::Live, 0);
}

struct Malformed {
  const char* text;
  int line;
  const char* message;
};

TEST_F(FormTest, MalformedFormsAreRefusedNamingTheLine) {
  const Malformed cases[] = {
      {"", 1, "the form holds no object"},
      {"object Form1: TTestForm\n  object Ferrox1: TNoSuchClass\n  end\nend\n", 2, "class \"TNoSuchClass\" is not registered"},
      {"object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    Speed = 3\n  end\nend\n", 3,
       "TFerrox32 has no published property \"Speed\""},
      {"object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    HardAccess = Maybe\n  end\nend\n", 3,
       "HardAccess takes True or False, not \"Maybe\""},
      {"object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    LPTNumber = 256\n  end\nend\n", 3,
       "LPTNumber = 256 lies outside 0..255"},
      {"object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    LPTNumber = two\n  end\nend\n", 3,
       "LPTNumber takes a whole number, not \"two\""},
      {"object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    OnHwInterrupt = Missing\n  end\nend\n", 3,
       "TTestForm has no published method \"Missing\""},
      {"object Form1: TTestForm\n  object Ferrox1: TFerrox32\n    OnHwInterrupt = FormClick\n  end\nend\n", 3,
       "method \"FormClick\" does not fit event OnHwInterrupt"},
      {"object Form1: TTestForm\n  object A: TTestPanel\n  end\n  object A: TTestPanel\n  end\nend\n", 4,
       "a second component named \"A\""},
      {"object Form1: TTestForm\n  object Panel1: TTestPanel\n    object Ferrox1: TFerrox32\n  end\nend\n", 1,
       "object Form1 is never closed by end"},
      {"object Form1: TTestForm\nend\nend\n", 3, "text after the end of the form"},
      {"end\n", 1, "end without an object"},
      {"HardAccess = False\n", 1, "a property outside any object"},
      {"object Form1 TTestForm\nend\n", 1, "expected \"object Name: Class\""},
      {"object Form1: TTestForm\n  object 1st: TTestPanel\n  end\nend\n", 2, "invalid component name \"1st\""},
      {"object Form1: TTestForm\n  TTestPanel\nend\n", 2,
       "expected \"object Name: Class\", \"Property = Value\" or \"end\", found \"TTestPanel\""},
  };
  for (const Malformed& malformed : cases) {
    auto form = ferrox::framework::ReadForm(malformed.text);
    ASSERT_FALSE(form.ok()) << malformed.text;
    EXPECT_EQ(form.error().Line, malformed.line) << malformed.text;
    EXPECT_EQ(form.error().Message, malformed.message) << malformed.text;
    EXPECT_EQ(TTestPanel::Live, 0) << "a half-built form was left alive: " << malformed.text;
  }
  EXPECT_EQ(ferrox::framework::ReadForm("object F: TTestForm\n  X = 1\nend").error().Text(),
            "line 2: TTestForm has no published property \"X\"");
}

}  // namespace
