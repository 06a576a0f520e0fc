// The login dialog: the mailbox (extension) number, the numeric password typed
// twice, the mailbox server and whether the password is saved.
//
// Its caller creates it, puts the stored values into pluginTabs,
// CheckBoxPagingEnabled, CheckSavePassword and EditServerName, calls
// SetupServerName (which arranges the server chooser from the registry), fills
// edtProfile, shows it modally, calls ReleaseServerTable and reads the fields back.
// The dialog itself stores nothing: it only filters its boxes to digits and keeps OK
// disabled until the fields are complete.
//
// Server chooser modes, fixed by "use_server_dropdown" when SetupServerName runs:
// 0 (or no value) a free-text address box; 2 an editable drop-down of the addresses
// saved before; any other value a fixed list of the servers configured under
// "MCServers", each with its address, paging flag, location standard and codes.
//
// Threads: the main thread only, like every form.
#pragma once

#include <cstdint>
#include <string>

#include "hashtable.h"
#include "qmos/form.h"

namespace vantiro {

// Where the dialog's settings live, under HKEY_CURRENT_USER.
inline constexpr const char* kPluginDataKey = "SOFTWARE\\Quillmere\\Viewer\\PluginData";
inline constexpr const char* kMCServersKey = "SOFTWARE\\Quillmere\\Viewer\\PluginData\\MCServers";

// One configured server as the server table keeps it: a byte block of fixed-width,
// NUL-terminated texts under its display name. Longer registry texts are cut.
struct ServerEntry {
  char name[257];
  std::int16_t pagingEnabled;
  char ipaddress[257];
  char locationStandard[17];
  char countryCode[4];
  char siteCode[4];
};

// Copies text into a fixed-width field, cut to what fits before the NUL.
template <std::size_t N>
void CopyCut(char (&field)[N], const std::string& text) {
  const std::size_t count = text.size() < N - 1 ? text.size() : N - 1;
  text.copy(field, count);
  field[count] = '\0';
}

class TInputPasswordForm : public qmos::Form {
 public:
  TInputPasswordForm();
  ~TInputPasswordForm() override;

  // Reads the chooser mode, the help address and the saved addresses from the
  // registry and arranges the server chooser.
  void SetupServerName();
  // Lists the configured servers (list mode) and selects the one whose address is
  // the preset address. Returns the number of names added when a preset server
  // was found, else 0.
  int FillServerNameDropDown();
  // Destroys the server table, if any.
  void ReleaseServerTable();

  // Event handlers, wired to the controls in the constructor.
  void ComboBoxServerNameChange();
  void EditServerNameChange();
  void edtProfileChanged();
  void edtPasswordChanged();
  void edtVerifyChange();
  void btnTellMeClick();
  void Button1Click() {}  // the button's modal result closes the dialog
  void Button2Click();

  qmos::Label& LabelFail1;
  qmos::Label& LabelFail2;
  qmos::Label& lEnterServer;
  qmos::ComboBox& ComboBoxServerName;
  qmos::Edit& EditServerName;
  qmos::Button& btnTellMe;
  qmos::CheckBox& CheckBoxPagingEnabled;
  qmos::Edit& pluginTabs;
  qmos::Label& Label3;
  qmos::Label& Label4;
  qmos::Edit& edtProfile;
  qmos::Label& Label1;
  qmos::Label& Label5;
  qmos::Edit& edtPassword;
  qmos::Label& Label2;
  qmos::Edit& edtVerify;
  qmos::Label& lStatus;
  qmos::Label& hiddenURL;
  qmos::CheckBox& CheckSavePassword;
  qmos::Button& Button1;
  qmos::Button& Button2;

  std::string helpUrl;
  int useServerDropdown = 0;
  HASHTABLE* serverTable = nullptr;
  std::string countryCode;
  std::string siteCode;

 private:
  // The designed places and sizes of the controls, and their tab groups.
  void Layout();
  // Reads one configured server's subkey into the table and the list; false when
  // its "paging_enabled" (or another value) cannot be read as its type.
  bool ReadServerEntry(const std::string& subkey, int& added, std::string& defaultServer);
  // Hides and disables the status line.
  void HideStatus();
  // OK is enabled exactly when an address, a profile and a password are there and
  // the password was typed the same twice.
  void UpdateOkButton();
};

}  // namespace vantiro
