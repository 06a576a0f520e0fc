// The login dialog: digit filtering and the OK rule, and the list of configured
// servers (cut texts, a choice, no match). The other modes, help and Exit are tried
// through qmhost (tests/e2e).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogs/InputPassword.h"
#include "dialogs/Validators.h"
#include "qmos/registry.h"
#include "testsupport/temp_dir.h"

namespace {

using vantiro::TInputPasswordForm;

class LoginDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qmos::SetRegistryFile(temp_.Path() + "/registry.reg");
  }

  static qmos::RegKey Key(const std::string& path) {
    return *qmos::RegKey::Open(qmos::RegRoot::CurrentUser, path, /*create=*/true);
  }
  static void Server(const std::string& subkey, const std::string& name, const std::string& address,
                     int paging, const std::string& tabs, const std::string& country,
                     const std::string& site) {
    qmos::RegKey key = Key(std::string(vantiro::kMCServersKey) + "\\" + subkey);
    key.WriteString("name", name);
    if (paging >= 0) key.WriteDword("paging_enabled", static_cast<std::uint32_t>(paging));
    key.WriteString("ipaddress", address);
    key.WriteString("location_standard", tabs);
    key.WriteString("country_code", country);
    key.WriteString("site_code", site);
  }
  // A dialog as the prompt fills it: the stored address, then the chooser.
  void ShowDialogWith(const std::string& address) {
    dialog_.EditServerName.SetText(address);
    dialog_.SetupServerName();
  }

  testsupport::TempDir temp_;
  TInputPasswordForm dialog_;
};

TEST_F(LoginDialogTest, BoxesKeepDigitsOnlyAndOkNeedsAddressProfileAndTheSamePasswordTwice) {
  EXPECT_EQ(vantiro::DigitsOnly("a1*2-3 4x"), "1234");
  EXPECT_EQ(vantiro::DigitsOnly("**"), "");
  ShowDialogWith("");
  const struct {
    const char *control, *typed, *text;
    bool ok;
  } steps[] = {
      {"edtProfile", "12a3", "123", false},
      {"edtPassword", "1*2-3*4", "1234", false},  // pasted with separators
      {"edtVerify", "1234", "1234", false},       // no address yet
      {"EditServerName", "mux.example", "mux.example", true},
      {"edtVerify", "12345", "12345", false},
      {"edtVerify", "1234", "1234", true},
      {"edtProfile", "", "", false},
      {"edtProfile", "x7", "7", true},
  };
  for (const auto& step : steps) {
    ASSERT_TRUE(dialog_.TypeText(step.control, step.typed)) << step.control;
    const qmos::Edit& edit = *dialog_.Get<qmos::Edit>(step.control);
    EXPECT_EQ(edit.Text(), step.text) << step.typed;
    EXPECT_EQ(edit.SelStart(), edit.Length()) << step.typed;  // the caret after the last digit
    EXPECT_EQ(dialog_.Button1.enabled, step.ok) << step.control << " " << step.typed;
  }
  // What an observer sees of the password boxes is masked.
  for (const qmos::ControlState& control : dialog_.Observe().controls) {
    if (control.name == "edtPassword") {
      EXPECT_EQ(control.text, "****");
    }
  }
}

TEST_F(LoginDialogTest, ListModeSelectsThePresetServerAndAChoiceKeepsItsCodes) {
  qmos::RegKey data = Key(vantiro::kPluginDataKey);
  data.WriteDword("use_server_dropdown", 1);
  Server("a", "Alpha", "MUX.example", 0, "77777", "44", "020");
  Server("b", "Bravo", "10.1.1.1", 1, "", "1", "212");
  Server("c", "Broken", "10.2.2.2", -1, "", "", "");  // no paging_enabled: left out
  Server("d", std::string(300, 'N'), "10.3.3.3", 1, "123456789012345678", "12345", "678");
  ShowDialogWith("mux.example");

  EXPECT_TRUE(dialog_.ComboBoxServerName.visible && !dialog_.EditServerName.visible);
  EXPECT_EQ(dialog_.ComboBoxServerName.Style(), qmos::ComboStyle::DropDownList);
  EXPECT_EQ(dialog_.ComboBoxServerName.Items(),
            (std::vector<std::string>{"Alpha", "Bravo", std::string(256, 'N')}));
  EXPECT_EQ(dialog_.ComboBoxServerName.Text(), "Alpha");
  EXPECT_EQ(dialog_.EditServerName.Text(), "MUX.example");
  EXPECT_FALSE(dialog_.CheckBoxPagingEnabled.Checked());
  EXPECT_EQ(dialog_.pluginTabs.Text(), "77777");
  EXPECT_EQ(dialog_.countryCode, "44");
  EXPECT_EQ(dialog_.siteCode, "020");

  // A choice replaces address, paging and tabs (empty included); the codes stay.
  ASSERT_TRUE(dialog_.SelectItem("ComboBoxServerName", "Bravo"));
  EXPECT_EQ(dialog_.EditServerName.Text(), "10.1.1.1");
  EXPECT_TRUE(dialog_.CheckBoxPagingEnabled.Checked());
  EXPECT_EQ(dialog_.pluginTabs.Text(), "");
  EXPECT_EQ(dialog_.countryCode, "44");
  // Texts longer than their fields are cut.
  ASSERT_TRUE(dialog_.SelectItem("ComboBoxServerName", std::string(256, 'N')));
  EXPECT_EQ(dialog_.pluginTabs.Text(), "1234567890123456");
}

TEST_F(LoginDialogTest, ListModeWithoutAMatchKeepsThePresetAddressAndNoCodes) {
  Key(vantiro::kPluginDataKey).WriteDword("use_server_dropdown", 5);
  Server("a", "Alpha", "10.9.9.9", 1, "55555", "44", "020");
  ShowDialogWith("mux.other");
  EXPECT_EQ(dialog_.ComboBoxServerName.ItemIndex(), -1);
  EXPECT_EQ(dialog_.EditServerName.Text(), "mux.other");
  EXPECT_TRUE(dialog_.countryCode.empty() && dialog_.siteCode.empty());
  dialog_.edtProfile.SetText("1");
  dialog_.edtPassword.SetText("2");
  dialog_.edtVerify.SetText("2");
  EXPECT_TRUE(dialog_.Button1.enabled);
}

}  // namespace
