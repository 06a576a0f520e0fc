// Forms: typing with a handler that rewrites the text, sorted combo boxes, buttons
// and modal results, refused actions, modal showing through a presenter, and the
// masked text an observer sees.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "qmos/application.h"
#include "qmos/form.h"
#include "qmos/presenter.h"
#include "testsupport/platform.h"
#include "testsupport/wait.h"

using namespace qmos;

namespace {

std::string Digits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

// An edit whose handler keeps only digits and puts the caret at the end, counting
// how often it is told.
struct DigitEdit {
  Form form{"TTestForm"};
  Edit& edit = form.Add<Edit>("edtProfile");
  int changes = 0;
  DigitEdit() {
    edit.onChange = [this] {
      ++changes;
      const std::string digits = Digits(edit.Text());
      if (digits == edit.Text()) return;
      edit.SetText(digits);
      edit.SetSelStart(edit.Length());
    };
  }
};

}  // namespace

TEST(FormsTest, TypingCutsToMaxLengthAndTheFilteringHandlerSettles) {
  struct Case {
    int maxLength;
    std::string typed, text;
    int caret, changes;
  } cases[] = {
      {0, "12a3", "123", 3, 2},       // the handler's own change is told once more
      {0, "123", "123", 3, 1},
      {4, "123456", "1234", 4, 1},
      {3, "a1b2c3", "1", 1, 2},       // cut first, then filtered
      {2, "\xC3\xA9" "12", "1", 1, 2},  // the limit counts characters, not bytes
      {0, "", "", 0, 1},
  };
  for (const Case& c : cases) {
    DigitEdit t;
    t.edit.maxLength = c.maxLength;
    ASSERT_TRUE(t.form.TypeText("edtProfile", c.typed)) << c.typed;
    EXPECT_EQ(t.edit.Text(), c.text) << c.typed;
    EXPECT_EQ(t.edit.SelStart(), c.caret) << c.typed;
    EXPECT_EQ(t.edit.SelLength(), 0) << c.typed;
    EXPECT_EQ(t.changes, c.changes) << c.typed;
  }
}

TEST(FormsTest, SettingTextFromCodeTellsTheHandlerOnlyOfChanges) {
  DigitEdit t;
  t.edit.SetText("42");
  EXPECT_EQ(t.changes, 1);
  EXPECT_EQ(t.edit.SelStart(), 0);
  t.edit.SetText("42");
  EXPECT_EQ(t.changes, 1);

  // A handler that never settles is cut off instead of recursing without end.
  Form form("TTestForm");
  Edit& edit = form.Add<Edit>("edtRunaway");
  int changes = 0;
  edit.onChange = [&] {
    ++changes;
    edit.SetText(edit.Text() + "x");
  };
  edit.SetText("a");
  EXPECT_EQ(changes, Edit::kMaxNestedChanges);
}

TEST(FormsTest, SortedComboKeepsOrderAndTheUsersChoiceRunsOnChange) {
  Form form("TTestForm");
  ComboBox& combo = form.Add<ComboBox>("ComboBoxServerName");
  int changes = 0;
  combo.onChange = [&] { ++changes; };
  combo.AddItem("beta");
  combo.AddItem("Delta");
  combo.SetSorted(true);
  combo.SetItemIndex(combo.IndexOf("delta"));
  combo.AddItem("alpha");
  combo.AddItem("Charlie");
  EXPECT_EQ(combo.Items(), (std::vector<std::string>{"alpha", "beta", "Charlie", "Delta"}));
  EXPECT_EQ(combo.ItemIndex(), 3);  // the selection follows its item
  EXPECT_EQ(changes, 0);            // changes from code tell nobody

  EXPECT_TRUE(form.SelectItem("ComboBoxServerName", "CHARLIE"));
  EXPECT_EQ(combo.ItemIndex(), 2);
  EXPECT_EQ(combo.Text(), "Charlie");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(form.SelectItem("ComboBoxServerName", "echo").failure, ActionFailure::NoSuchItem);
  EXPECT_EQ(changes, 1);

  // A drop-down list takes no typing; a drop-down box takes any text.
  combo.SetStyle(ComboStyle::DropDownList);
  EXPECT_EQ(form.TypeText("ComboBoxServerName", "x").failure, ActionFailure::NotEditable);
  combo.SetText("The Default Server");
  EXPECT_EQ(combo.ItemIndex(), -1);
  EXPECT_EQ(combo.Text(), "The Default Server");
  combo.SetStyle(ComboStyle::DropDown);
  EXPECT_TRUE(form.TypeText("ComboBoxServerName", "10.0.0.1"));
  EXPECT_EQ(combo.Text(), "10.0.0.1");
  EXPECT_EQ(changes, 2);
}

TEST(FormsTest, ClickRunsTheHandlerAndClosesWithTheButtonsResult) {
  struct Case {
    int buttonResult;
    bool handlerKeepsOpen;
    int formResult;
  } cases[] = {{mrNone, false, mrNone}, {mrOk, false, mrOk}, {mrCancel, true, mrNone}};
  for (const Case& c : cases) {
    Form form("TTestForm");
    Button& button = form.Add<Button>("Button1");
    button.modalResult = c.buttonResult;
    int clicks = 0;
    button.onClick = [&] {
      ++clicks;
      if (c.handlerKeepsOpen) form.SetModalResult(mrNone);
    };
    ASSERT_TRUE(form.Click("Button1"));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(form.ModalResult(), c.formResult);
  }
}

TEST(FormsTest, ActionsOnControlsThatCannotBeUsedFailAndChangeNothing) {
  Form form("TTestForm");
  Edit& edit = form.Add<Edit>("edtPassword");
  CheckBox& box = form.Add<CheckBox>("cReminder");
  Button& button = form.Add<Button>("Button1");
  button.modalResult = mrOk;
  int handlers = 0;
  edit.onChange = box.onClick = button.onClick = [&] { ++handlers; };
  edit.visible = false;
  box.enabled = false;
  const std::function<ActionResult()> actions[] = {
      [&] { return form.TypeText("edtPassword", "1"); },
      [&] { return form.SetChecked("cReminder", true); },
      [&] { return form.Click("nothing"); },
      [&] { return form.TypeText("Button1", "1"); },
  };
  const ActionFailure expected[] = {ActionFailure::Hidden, ActionFailure::Disabled,
                                    ActionFailure::NoSuchControl, ActionFailure::WrongKind};
  for (std::size_t i = 0; i < std::size(actions); ++i) {
    const ActionResult result = actions[i]();
    EXPECT_EQ(result.failure, expected[i]) << i;
    EXPECT_FALSE(result.Message().empty()) << i;
  }
  EXPECT_TRUE(form.Click("Button1"));
  EXPECT_EQ(form.Click("Button1").failure, ActionFailure::FormClosed);
  EXPECT_EQ(handlers, 1);
  EXPECT_TRUE(edit.Text().empty());
  EXPECT_FALSE(box.Checked());
}

namespace {

// Applies the actions it is given, as a person at the form would.
class ScriptedPresenter : public Presenter {
 public:
  int ShowForm(Form& form) override {
    onMain = Application::Instance().IsMainThread();
    if (script) script(form);
    return form.ModalResult();
  }
  std::function<void(Form&)> script;
  bool onMain = false;
};

class FormsShowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.SetMainThread();
    app.StartServing();
  }
  void TearDown() override { app.SetPresenter(nullptr); }
  Application& app = Application::Instance();
};

}  // namespace

TEST_F(FormsShowTest, EscAndAFormNobodyAnswersPressTheCancelButton) {
  enum class How { NoPresenter, RunsOut, Esc };
  struct Case {
    const char* name;
    How how;
    bool hasCancel, enabled, keepsOpen;
    int cancelResult;
    bool escCloses;  // Esc only: whether the press closed the form
    int shown, clicks;
  } cases[] = {
      {"no presenter", How::NoPresenter, true, true, false, mrCancel, false, mrCancel, 1},
      {"actions run out", How::RunsOut, true, true, false, mrAbort, false, mrAbort, 1},
      {"esc", How::Esc, true, true, false, mrCancel, true, mrCancel, 1},
      // A handler that keeps the form open: Esc leaves it open; once nobody answers
      // the button is pressed once more and the form closes all the same.
      {"esc, handler keeps it open", How::Esc, true, true, true, mrCancel, false, mrCancel, 2},
      {"esc, button without a result", How::Esc, true, true, false, mrNone, false, mrCancel, 2},
      {"disabled cancel button", How::Esc, true, false, false, mrAbort, false, mrAbort, 0},
      {"no cancel button", How::RunsOut, false, true, false, mrAbort, false, mrCancel, 0},
  };
  auto presenter = std::make_shared<ScriptedPresenter>();
  for (const Case& c : cases) {
    // There the form would wait for a person (the real window is tested on its own).
    if (c.how == How::NoPresenter && testsupport::kSystemWindows) continue;
    Form form("TTestForm");
    Button& exit = form.Add<Button>("Button2");
    exit.isCancel = c.hasCancel;
    exit.enabled = c.enabled;
    exit.modalResult = c.cancelResult;
    int clicks = 0;
    exit.onClick = [&] {
      ++clicks;
      if (c.keepsOpen) form.SetModalResult(mrNone);
    };
    presenter->script = nullptr;
    if (c.how == How::Esc) presenter->script = [&](Form& f) { EXPECT_EQ(f.PressCancel(), c.escCloses) << c.name; };
    app.SetPresenter(c.how == How::NoPresenter ? nullptr : presenter);
    EXPECT_EQ(form.ShowModal(), c.shown) << c.name;
    EXPECT_EQ(clicks, c.clicks) << c.name;
    EXPECT_TRUE(form.PressCancel()) << c.name;  // closed: pressing again runs nothing
    EXPECT_EQ(clicks, c.clicks) << c.name;
  }
}

TEST_F(FormsShowTest, APresenterAppliesActionsOnTheMainThreadAlsoForAWorker) {
  auto presenter = std::make_shared<ScriptedPresenter>();
  presenter->script = [](Form& form) {
    EXPECT_TRUE(form.TypeText("edtProfile", "12a3"));
    EXPECT_TRUE(form.Click("Button1"));
  };
  app.SetPresenter(presenter);
  DigitEdit t;
  t.form.Add<Button>("Button1").modalResult = mrOk;
  t.form.SetModalResult(mrCancel);  // a result from an earlier showing is cleared
  std::atomic<int> result{-1};
  std::thread worker([&] { result = t.form.ShowModal(); });
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    app.WaitForWork(5);
    app.ProcessMessages();
    return result.load() != -1;
  }));
  worker.join();
  EXPECT_EQ(result.load(), mrOk);
  EXPECT_TRUE(presenter->onMain);
  EXPECT_EQ(t.edit.Text(), "123");
}

TEST(FormsTest, AnObserverSeesPasswordsMasked) {
  Form form("TTestForm");
  form.caption = "Sign in";
  Edit& password = form.Add<Edit>("edtPassword");
  password.passwordChar = '*';
  password.SetText("12\xC3\xA9");
  form.Add<CheckBox>("CheckSavePassword").SetChecked(true);
  ComboBox& combo = form.Add<ComboBox>("ComboBoxServerName");
  combo.AddItem("one");
  combo.SetStyle(ComboStyle::DropDownList);

  EXPECT_EQ(password.ObservedText(), "***");
  EXPECT_EQ(password.Text(), "12\xC3\xA9");
  const FormState state = form.Observe();
  ASSERT_EQ(state.controls.size(), 3u);
  EXPECT_EQ(state.className, "TTestForm");
  EXPECT_EQ(state.controls[0].text, "***");
  EXPECT_FALSE(state.controls[0].checked.has_value());
  EXPECT_EQ(state.controls[1].checked, true);
  EXPECT_EQ(state.controls[2].items, std::vector<std::string>{"one"});
  EXPECT_EQ(state.controls[2].style, "DropDownList");
}
