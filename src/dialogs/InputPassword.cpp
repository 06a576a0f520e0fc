#include "dialogs/InputPassword.h"

#include <strings.h>

#include <cstring>
#include <optional>
#include <vector>

#include "diag/trace_log.h"
#include "dialogs/Validators.h"
#include "qmos/application.h"
#include "qmos/message_box.h"
#include "qmos/registry.h"

namespace vantiro {

namespace {

constexpr const char* kDefaultServerText = "The Default Server";
constexpr const char* kNoHelpHint = "Detects what server is accroding to your profile";
constexpr const char* kHelpHintPrefix = "Open up URL:";
constexpr const char* kNotSupportedTitle = "Feature Not Supported";
constexpr const char* kNotSupportedText =
    "This feature is not supported at your location.\nPlease contact your system administrator.";
constexpr const char* kExitTitle = "Login is Still Processing";
constexpr const char* kExitText =
    "Exiting the change profile process could cause your password to\nbecome locked. Use "
    "Connection from the Menu bar to logout prior\nto reconnecting to the Unified Messaging "
    "server.";
constexpr int kServerTableSizeHint = 30;
constexpr int kSavedAddresses = 4;  // SavedIP0 to SavedIP3

// A text value of a configured server. A missing value reads as empty, as the
// toolkit's registry reads do; a value of another type is an error.
bool ReadText(const qmos::RegKey& key, const char* name, std::string& out) {
  out.clear();
  const qmos::RegResult read = key.ReadString(name, out);
  return read == qmos::RegResult::Ok || read == qmos::RegResult::NotFound;
}

}  // namespace

TInputPasswordForm::TInputPasswordForm()
    : qmos::Form("TInputPasswordForm"),
      LabelFail1(Add<qmos::Label>("LabelFail1")),
      LabelFail2(Add<qmos::Label>("LabelFail2")),
      lEnterServer(Add<qmos::Label>("lEnterServer")),
      ComboBoxServerName(Add<qmos::ComboBox>("ComboBoxServerName")),
      EditServerName(Add<qmos::Edit>("EditServerName")),
      btnTellMe(Add<qmos::Button>("btnTellMe")),
      CheckBoxPagingEnabled(Add<qmos::CheckBox>("CheckBoxPagingEnabled")),
      pluginTabs(Add<qmos::Edit>("pluginTabs")),
      Label3(Add<qmos::Label>("Label3")),
      Label4(Add<qmos::Label>("Label4")),
      edtProfile(Add<qmos::Edit>("edtProfile")),
      Label1(Add<qmos::Label>("Label1")),
      Label5(Add<qmos::Label>("Label5")),
      edtPassword(Add<qmos::Edit>("edtPassword")),
      Label2(Add<qmos::Label>("Label2")),
      edtVerify(Add<qmos::Edit>("edtVerify")),
      lStatus(Add<qmos::Label>("lStatus")),
      hiddenURL(Add<qmos::Label>("hiddenURL")),
      CheckSavePassword(Add<qmos::CheckBox>("CheckSavePassword")),
      Button1(Add<qmos::Button>("Button1")),
      Button2(Add<qmos::Button>("Button2")) {
  caption = "Provide a Valid Password ";
  borderStyle = qmos::BorderStyle::Dialog;
  borderIcons = false;
  stayOnTop = true;
  clientWidth = 391;
  clientHeight = 224;

  LabelFail1.caption = "You are trying to logon to :   ";
  LabelFail2.caption = kDefaultServerText;
  lEnterServer.caption = "Unified Messaging Server";

  ComboBoxServerName.SetStyle(qmos::ComboStyle::DropDownList);
  ComboBoxServerName.dropDownCount = 15;
  ComboBoxServerName.SetSorted(true);
  ComboBoxServerName.hint = "Click the Blue QuestionMark button to tell you which server should be...";
  ComboBoxServerName.showHint = true;
  ComboBoxServerName.tabOrder = 0;

  // The address box lies where the chooser lies; SetupServerName shows one of them.
  EditServerName.maxLength = 128;
  EditServerName.visible = false;
  EditServerName.tabOrder = 1;

  btnTellMe.style = qmos::ButtonStyle::Speed;
  btnTellMe.caption = "?";
  btnTellMe.showHint = true;

  CheckBoxPagingEnabled.caption = "Paging Enabled";
  CheckBoxPagingEnabled.SetChecked(true);
  CheckBoxPagingEnabled.enabled = false;
  CheckBoxPagingEnabled.visible = false;

  pluginTabs.SetText("53012");
  pluginTabs.enabled = false;
  pluginTabs.visible = false;

  Label3.caption = "Unified Messaging Extension number";
  Label3.hint = "Your Extension or VoiceMailbox Number";
  Label4.caption = "(Your Extension or VoiceMailbox No)";

  edtProfile.hint = "This is your voice mailbox number";
  edtProfile.showHint = true;
  edtProfile.tabOrder = 2;

  Label1.caption = "Unified Messaging Password";
  Label5.caption = "(VoiceMailbox Password)";
  edtPassword.passwordChar = '*';
  edtPassword.hint = "This is your VoiceMailbox Password";
  edtPassword.showHint = true;
  edtPassword.tabOrder = 3;

  Label2.caption = "Verify Password";
  edtVerify.passwordChar = '*';
  edtVerify.hint = "Please re-enter your VoiceMail password  in here again";
  edtVerify.showHint = false;
  edtVerify.tabOrder = 4;

  lStatus.font.color = qmos::kColorRed;
  lStatus.font.size = 9;
  lStatus.visible = false;

  hiddenURL.font.color = qmos::kColorBlue;
  hiddenURL.font.underline = true;

  CheckSavePassword.caption = "Save the password for me";
  CheckSavePassword.tabOrder = 3;

  Button1.caption = "&Ok";
  Button1.isDefault = true;
  Button1.enabled = false;
  Button1.modalResult = qmos::mrOk;
  Button1.tabOrder = 1;

  Button2.caption = "E&xit";
  Button2.isCancel = true;
  Button2.modalResult = qmos::mrCancel;
  Button2.tabOrder = 2;

  Layout();

  ComboBoxServerName.onChange = [this] { ComboBoxServerNameChange(); };
  EditServerName.onChange = [this] { EditServerNameChange(); };
  edtProfile.onChange = [this] { edtProfileChanged(); };
  edtPassword.onChange = [this] { edtPasswordChanged(); };
  edtVerify.onChange = [this] { edtVerifyChange(); };
  btnTellMe.onClick = [this] { btnTellMeClick(); };
  Button1.onClick = [this] { Button1Click(); };
  Button2.onClick = [this] { Button2Click(); };
}

TInputPasswordForm::~TInputPasswordForm() { ReleaseServerTable(); }

void TInputPasswordForm::Layout() {
  // Captions on the left, the boxes they name on the right, row under row; the save
  // box and the buttons along the bottom. The server row's controls lie on one
  // panel with the mailbox and password rows, tabbed before the bottom row.
  LabelFail1.SetBounds(8, 8, 192, 13);
  LabelFail2.SetBounds(202, 8, 181, 13);
  lEnterServer.SetBounds(8, 32, 212, 13);
  ComboBoxServerName.SetBounds(222, 28, 138, 21);
  EditServerName.SetBounds(222, 28, 138, 21);
  btnTellMe.SetBounds(364, 28, 21, 21);
  CheckBoxPagingEnabled.SetBounds(222, 160, 110, 17);
  pluginTabs.SetBounds(334, 158, 49, 21);
  Label3.SetBounds(8, 58, 212, 13);
  Label4.SetBounds(8, 72, 212, 13);
  edtProfile.SetBounds(222, 62, 161, 21);
  Label1.SetBounds(8, 94, 212, 13);
  Label5.SetBounds(8, 108, 212, 13);
  edtPassword.SetBounds(222, 98, 161, 21);
  Label2.SetBounds(8, 138, 212, 13);
  edtVerify.SetBounds(222, 134, 161, 21);
  lStatus.SetBounds(8, 164, 375, 15);
  hiddenURL.SetBounds(8, 164, 375, 13);
  CheckSavePassword.SetBounds(8, 194, 200, 17);
  Button1.SetBounds(224, 190, 75, 25);
  Button2.SetBounds(308, 190, 75, 25);
  for (qmos::Control* control : {static_cast<qmos::Control*>(&CheckSavePassword),
                                 static_cast<qmos::Control*>(&Button1), static_cast<qmos::Control*>(&Button2)})
    control->tabGroup = 1;
}

void TInputPasswordForm::SetupServerName() {
  const std::optional<qmos::RegKey> key =
      qmos::RegKey::Open(qmos::RegRoot::CurrentUser, kPluginDataKey, /*create=*/true);
  Trace("TInputPasswordForm::SetupServerName(): Opening Key %s ", kPluginDataKey);

  useServerDropdown = 0;
  std::uint32_t mode = 0;
  if (key && key->ReadDword("use_server_dropdown", mode) == qmos::RegResult::Ok) {
    useServerDropdown = static_cast<int>(mode);
    Trace("TInputPasswordForm::SetupServerName(): Read \"use_server_dropdown\" from registrty: "
          "it's set to %i ",
          useServerDropdown);
  } else {
    Trace("TInputPasswordForm::SetupServerName(): Exception caught accessing "
          "\"use_server_dropdown\", setting it to 0");
  }

  helpUrl.clear();
  if (key && key->ReadString("help_url", helpUrl) != qmos::RegResult::Ok) helpUrl.clear();
  btnTellMe.hint = helpUrl.empty() ? std::string(kNoHelpHint) : kHelpHintPrefix + helpUrl;
  btnTellMe.showHint = true;

  if (useServerDropdown == 2 && key) {
    for (int i = 0; i < kSavedAddresses; ++i) {
      std::string saved;
      if (key->ReadString("SavedIP" + std::to_string(i), saved) != qmos::RegResult::Ok) continue;
      if (saved.empty() || ComboBoxServerName.IndexOf(saved) >= 0) continue;
      ComboBoxServerName.AddItem(saved);
    }
  }
  Trace("TInputPasswordForm::SetupServerName(): Closed the Key : useDropDown was set to %i",
        useServerDropdown);

  const int servers =
      useServerDropdown != 0 && useServerDropdown != 2 ? FillServerNameDropDown() : 0;
  Trace("TInputPasswordForm::SetupServerName(): After calling FillServerNameDropDown()- The number "
        "of servers is %i",
        servers);

  if (useServerDropdown == 2 && !EditServerName.Text().empty() &&
      ComboBoxServerName.IndexOf(EditServerName.Text()) < 0) {
    ComboBoxServerName.AddItem(EditServerName.Text());
  }
  ComboBoxServerName.SetStyle(useServerDropdown == 2 ? qmos::ComboStyle::DropDown
                                                     : qmos::ComboStyle::DropDownList);

  if (useServerDropdown != 0) {
    EditServerName.visible = false;
    EditServerName.enabled = false;
    ComboBoxServerName.visible = true;
    ComboBoxServerName.enabled = true;
    ComboBoxServerName.BringToFront();
    if (useServerDropdown == 2) ComboBoxServerName.SetText(EditServerName.Text());
    Trace("TInputPasswordForm::SetupServerName(): useDropDrow = %i, numServers = %i, Setting "
          "ServerCombo visible",
          useServerDropdown, servers);
  } else {
    EditServerName.visible = true;
    EditServerName.enabled = true;
    ComboBoxServerName.visible = false;
    ComboBoxServerName.enabled = false;
    EditServerName.BringToFront();
    ComboBoxServerName.SetText(kDefaultServerText);
    Trace("TInputPasswordForm::SetupServerName(): useDropDrow = %i, numServers = %i, Setting "
          "ServerCombo invisible",
          useServerDropdown, servers);
  }
}

int TInputPasswordForm::FillServerNameDropDown() {
  ReleaseServerTable();
  serverTable = HT_create(kServerTableSizeHint, 0);

  Trace("TInputPasswordForm::FillServerNameDropDown(): Retrieving server settings from %s",
        kMCServersKey);
  std::vector<std::string> subkeys;
  if (const std::optional<qmos::RegKey> servers =
          qmos::RegKey::Open(qmos::RegRoot::CurrentUser, kMCServersKey)) {
    subkeys = servers->SubKeyNames();
  }
  std::string defaultServer;
  Trace("TInputPasswordForm::After Call GetKeyNames(): There are %i servers in the "
        "list,defaultServer=%s",
        static_cast<int>(subkeys.size()), defaultServer.c_str());

  int added = 0;
  for (const std::string& subkey : subkeys) {
    if (!ReadServerEntry(subkey, added, defaultServer)) {
      Trace("TInputPasswordForm::FillServerNameDropDown(): Registry branch for Server - %s, is "
            "broken",
            subkey.c_str());
    }
  }

  if (defaultServer.empty()) return 0;
  const int index = ComboBoxServerName.IndexOf(defaultServer);
  ComboBoxServerName.SetItemIndex(index);
  Trace("TInputPasswordForm::FillServerNameDropDown(): Selected Server is Server %s at index %i",
        defaultServer.c_str(), index);
  return added;
}

bool TInputPasswordForm::ReadServerEntry(const std::string& subkey, int& added,
                                         std::string& defaultServer) {
  Trace("TInputPasswordForm::FillServerNameDropDown(): Opening key for server - %s", subkey.c_str());
  const std::optional<qmos::RegKey> key =
      qmos::RegKey::Open(qmos::RegRoot::CurrentUser, std::string(kMCServersKey) + "\\" + subkey);
  if (!key) {
    Trace("TInputPasswordForm::FillServerNameDropDown()::Failed to open a Key");
    return true;  // left out, and said so already
  }

  ServerEntry entry{};
  std::string text;
  if (!ReadText(*key, "name", text)) return false;
  CopyCut(entry.name, text);
  Trace("TInputPasswordForm::FillServerNameDropDown(): Server - %s, the Server is %s",
        subkey.c_str(), entry.name);
  std::uint32_t paging = 0;
  if (key->ReadDword("paging_enabled", paging) != qmos::RegResult::Ok) return false;
  entry.pagingEnabled = static_cast<std::int16_t>(paging != 0);
  Trace("TInputPasswordForm::FillServerNameDropDown(): Server - %s, Paging is %s", subkey.c_str(),
        entry.pagingEnabled ? "enabled" : "not enabled");
  if (!ReadText(*key, "ipaddress", text)) return false;
  CopyCut(entry.ipaddress, text);
  if (!ReadText(*key, "location_standard", text)) return false;
  CopyCut(entry.locationStandard, text);
  if (!ReadText(*key, "country_code", text)) return false;
  CopyCut(entry.countryCode, text);
  if (!ReadText(*key, "site_code", text)) return false;
  CopyCut(entry.siteCode, text);
  Trace("TInputPasswordForm::FillServerNameDropDown(): entry=[%s] name=[%s] ipaddress=[%s] "
        "paging_enabled=[%d]",
        subkey.c_str(), entry.name, entry.ipaddress, entry.pagingEnabled);

  HT_put_binary(serverTable, entry.name, &entry, static_cast<int>(sizeof entry));
  const int existing = ComboBoxServerName.IndexOf(entry.name);
  if (existing < 0) {
    ComboBoxServerName.AddItem(entry.name);
    ++added;
  } else {
    ComboBoxServerName.SetItemIndex(existing);
  }

  if (strcasecmp(entry.ipaddress, EditServerName.Text().c_str()) == 0) {
    defaultServer = entry.name;
    CheckBoxPagingEnabled.SetChecked(entry.pagingEnabled != 0);
    EditServerName.SetText(entry.ipaddress);
    ComboBoxServerName.SetText(entry.name);
    if (entry.locationStandard[0] != '\0') pluginTabs.SetText(entry.locationStandard);
    countryCode = entry.countryCode;
    siteCode = entry.siteCode;
  }
  return true;
}

void TInputPasswordForm::ReleaseServerTable() {
  HT_destroy(serverTable);
  serverTable = nullptr;
}

void TInputPasswordForm::ComboBoxServerNameChange() {
  if (useServerDropdown == 2 || ComboBoxServerName.Style() == qmos::ComboStyle::DropDown) {
    EditServerName.SetText(ComboBoxServerName.Text());
    return;
  }
  HideStatus();
  int size = 0;
  const void* found =
      serverTable ? HT_get_binary(serverTable, ComboBoxServerName.Text().c_str(), &size) : nullptr;
  if (found == nullptr || size != static_cast<int>(sizeof(ServerEntry))) return;
  ServerEntry entry;
  std::memcpy(&entry, found, sizeof entry);
  EditServerName.SetText(entry.ipaddress);
  CheckBoxPagingEnabled.SetChecked(entry.pagingEnabled != 0);
  pluginTabs.SetText(entry.locationStandard);
}

void TInputPasswordForm::EditServerNameChange() {
  HideStatus();
  UpdateOkButton();
}

void TInputPasswordForm::edtProfileChanged() {
  EditValidator(lStatus, edtProfile, DigitsOnly(edtProfile.Text()));
  UpdateOkButton();
}

void TInputPasswordForm::edtPasswordChanged() {
  EditValidator(lStatus, edtPassword, DigitsOnly(edtPassword.Text()));
  UpdateOkButton();
}

void TInputPasswordForm::edtVerifyChange() {
  EditValidator(lStatus, edtVerify, DigitsOnly(edtVerify.Text()));
  UpdateOkButton();
}

void TInputPasswordForm::btnTellMeClick() {
  qmos::Application& application = qmos::Application::Instance();
  if (helpUrl.empty()) {
    application.MessageBox(kNotSupportedText, kNotSupportedTitle, qmos::MB_OK);
    return;
  }
  hiddenURL.url = helpUrl;
  if (!application.ShellOpen(hiddenURL.url)) {
    Trace("TInputPasswordForm::btnTellMeClick(): The help address could not be opened");
  }
}

void TInputPasswordForm::Button2Click() {
  qmos::Application::Instance().MessageBox(kExitText, kExitTitle,
                                           qmos::MB_OK | qmos::MB_ICONWARNING);
}

void TInputPasswordForm::HideStatus() {
  lStatus.visible = false;
  lStatus.enabled = false;
}

void TInputPasswordForm::UpdateOkButton() {
  const std::string password = DigitsOnly(edtPassword.Text());
  Button1.enabled = !EditServerName.Text().empty() && password == DigitsOnly(edtVerify.Text()) &&
                    !password.empty() && !DigitsOnly(edtProfile.Text()).empty();
}

}  // namespace vantiro
