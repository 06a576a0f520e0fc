// screens (Windows): shows the plug-in's dialogs and message boxes as the system's
// windows, one after the other, as the plug-in itself shows them (no presenter is
// installed), and saves a picture of each window as NAME.bmp in the folder given.
// For each dialog it also presses Tab round the controls, from the one that has
// the focus first, and prints the walk:
//   tab NAME: control control ...
// scripts/screens.sh runs it under Wine on a virtual display and turns the
// pictures into the PNG files of docs/screens/.
//
// The login dialog's server modes come from the registry (HKCU\SOFTWARE\Quillmere
// \Viewer\PluginData), which this program writes for each mode, as an installation
// would.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connection/failure_notices.h"
#include "dialogs/ChangePassword.h"
#include "dialogs/InputPassword.h"
#include "expiry/expiry_messages.h"
#include "qmos/application.h"
#include "qmos/window_names.h"

#include <windows.h>

namespace {

constexpr UINT kTickMs = 50;
constexpr int kTabStops = 12;  // Tab presses: more than any dialog has focusable controls
const wchar_t* const kPluginData = L"SOFTWARE\\Quillmere\\Viewer\\PluginData";

// What the timer does with the window on the screen: wait for it, let it paint,
// walk its tab order, take its picture, close it.
struct Shot {
  std::string name;
  bool walkTabs = false;
  HWND window = nullptr;
  int ticks = 0;
  std::vector<std::string> walk;
  bool saved = false;
};

// Takes the pictures: a message-only window of its own gets the timer's ticks.
struct Camera {
  std::string folder;
  HWND main = nullptr;
  HWND clock = nullptr;
  Shot* shot = nullptr;  // the one being taken

  void Tick();
  bool Take(const std::string& name, bool walkTabs, const std::function<void()>& show);
};

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), wide.data(),
                            static_cast<int>(wide.size()))));
  return wide;
}

struct ShownSearch {
  HWND main;
  HWND found;
};

BOOL CALLBACK MatchShown(HWND window, LPARAM context) {
  wchar_t windowClass[64] = {};
  ::GetClassNameW(window, windowClass, 64);
  auto& s = *reinterpret_cast<ShownSearch*>(context);
  if (window == s.main || !::IsWindowVisible(window) || std::wstring(windowClass) == L"tooltips_class32") return TRUE;
  s.found = window;
  return FALSE;
}

// The visible top-level window of this thread other than the main window.
HWND ShownWindow(HWND main) {
  ShownSearch search{main, nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), &MatchShown, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The window's picture as a 24-bit BMP file, from what the screen shows.
bool SaveBitmap(HWND window, const std::string& path) {
  RECT frame;
  if (!::GetWindowRect(window, &frame)) return false;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  ::SelectObject(memory, previous);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD rowBytes = static_cast<DWORD>((width * 3 + 3) & ~3);
  std::vector<char> pixels(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height));
  const int rows = ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (rows != height) return false;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1 &&
                       std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
  return std::fclose(out) == 0 && written;
}

// The control that has the focus: the window, or the box of a combo box it is part of.
std::string FocusedControl() {
  HWND focus = ::GetFocus();
  std::string name = qmos::ControlNameOfWindow(focus);
  if (name.empty() && focus != nullptr) name = qmos::ControlNameOfWindow(::GetParent(focus));
  return name;
}

void Camera::Tick() {
  if (shot == nullptr) return;
  if (shot->window == nullptr) {
    shot->window = ShownWindow(main);
    return;
  }
  if (!::IsWindow(shot->window) || !::IsWindowVisible(shot->window)) return;
  if (++shot->ticks == 3) {
    shot->saved = SaveBitmap(shot->window, folder + "\\" + shot->name + ".bmp");
    return;
  }
  // Tab presses, one a tick, from the control that has the focus first round to it
  // again, each followed by where the focus went.
  if (shot->walkTabs && shot->ticks >= 4) {
    const std::string focus = FocusedControl();
    if (shot->ticks > 4 && focus == shot->walk.front()) {
      shot->walkTabs = false;
    } else if (shot->walk.size() <= kTabStops) {
      shot->walk.push_back(focus);
      ::PostMessageW(::GetFocus() != nullptr ? ::GetFocus() : shot->window, WM_KEYDOWN, VK_TAB, 1);
      return;
    }
  }
  if (shot->ticks < 4) return;
  // Closed as the close command closes it: a form with its cancel result, nothing
  // pressed; a message box by its default button.
  wchar_t windowClass[64] = {};
  ::GetClassNameW(shot->window, windowClass, 64);
  if (std::wstring(windowClass) == L"#32770") {
    const auto defaultId = ::SendMessageW(shot->window, DM_GETDEFID, 0, 0);
    ::PostMessageW(shot->window, WM_COMMAND, HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : IDOK, 0);
  } else {
    ::PostMessageW(shot->window, WM_CLOSE, 0, 0);
  }
}

// Shows what show shows, taking its picture; false when no picture was saved.
bool Camera::Take(const std::string& name, bool walkTabs, const std::function<void()>& show) {
  Shot taken;
  taken.name = name;
  taken.walkTabs = walkTabs;
  shot = &taken;
  show();
  shot = nullptr;
  if (walkTabs) {
    std::printf("tab %s:", name.c_str());
    for (const std::string& control : taken.walk) std::printf(" %s", control.c_str());
    std::printf("\n");
  }
  std::printf("%s %s\n", taken.saved ? "saved" : "NOT SAVED", name.c_str());
  std::fflush(stdout);
  return taken.saved;
}

LRESULT CALLBACK ClockProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    if (auto* camera = reinterpret_cast<Camera*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) camera->Tick();
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetDword(HKEY key, const wchar_t* name, DWORD value) {
  ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The registry of an installation in the given server-chooser mode: configured
// servers for the list, saved addresses for the editable list.
void PrepareRegistry(int mode) {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kPluginData);
  HKEY data = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kPluginData, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &data, nullptr) != 0)
    return;
  if (mode != 0) SetDword(data, L"use_server_dropdown", static_cast<DWORD>(mode));
  const wchar_t* const saved[] = {L"um1.corvane.example", L"10.20.30.40", L"um-backup.corvane.example"};
  for (int i = 0; mode == 2 && i < 3; ++i) SetString(data, (L"SavedIP" + std::to_wstring(i)).c_str(), saved[i]);
  const struct {
    const wchar_t* key;
    const wchar_t* name;
    const wchar_t* address;
  } servers[] = {{L"s1", L"Head Office", L"um1.corvane.example"},
                 {L"s2", L"Branch North", L"um2.corvane.example"},
                 {L"s3", L"Branch South", L"um3.corvane.example"}};
  for (const auto& server : servers) {
    if (mode != 1) break;
    HKEY entry = nullptr;
    const std::wstring path = std::wstring(L"MCServers\\") + server.key;
    if (::RegCreateKeyExW(data, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &entry, nullptr) != 0) continue;
    SetString(entry, L"name", server.name);
    SetDword(entry, L"paging_enabled", 1);
    SetString(entry, L"ipaddress", server.address);
    SetString(entry, L"location_standard", L"53012");
    SetString(entry, L"country_code", L"1");
    SetString(entry, L"site_code", L"22");
    ::RegCloseKey(entry);
  }
  ::RegCloseKey(data);
}

// The login dialog as the login prompt fills it: the stored address, the profile,
// the server of the failed attempt, and a password typed twice.
void ShowLogin(int mode) {
  PrepareRegistry(mode);
  vantiro::TInputPasswordForm dialog;
  dialog.pluginTabs.SetText("53012");
  dialog.EditServerName.SetText(mode == 2 ? "10.20.30.40" : "um1.corvane.example");
  dialog.SetupServerName();
  dialog.edtProfile.SetText("4711");
  dialog.LabelFail2.caption = mode == 1 ? "Head Office" : "um1.corvane.example";
  dialog.edtPassword.SetText("24681357");
  dialog.edtVerify.SetText("24681357");
  dialog.ShowModal();
  dialog.ReleaseServerTable();
}

void ShowChange(int days) {
  vantiro::TChangePassword dialog;
  vantiro::FillChangeReasons(dialog, "4711", days);
  dialog.edtCurrentPassword.SetText("24681357");
  dialog.ShowModal();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: screens FOLDER\n");
    return 2;
  }
  Camera camera;
  camera.folder = argv[1];
  qmos::Application& app = qmos::Application::Instance();
  app.SetMainThread();
  WNDCLASSEXW description{};
  description.cbSize = sizeof description;
  description.lpfnWndProc = ::DefWindowProcW;
  description.hInstance = ::GetModuleHandleW(nullptr);
  description.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  description.lpszClassName = L"QuillmereClientMain";
  ::RegisterClassExW(&description);
  camera.main = ::CreateWindowExW(0, description.lpszClassName, Wide(app.Caption()).c_str(), WS_OVERLAPPEDWINDOW, 0, 0,
                             900, 700, nullptr, nullptr, description.hInstance, nullptr);
  description.lpfnWndProc = &ClockProc;
  description.lpszClassName = L"ScreensClock";
  ::RegisterClassExW(&description);
  camera.clock = ::CreateWindowExW(0, description.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   description.hInstance, nullptr);
  if (camera.main == nullptr || camera.clock == nullptr) {
    std::fprintf(stderr, "screens: no window can be made (is there a display?)\n");
    return 1;
  }
  ::ShowWindow(camera.main, SW_SHOWNORMAL);
  app.SetMainWindow(camera.main);
  ::SetWindowLongPtrW(camera.clock, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&camera));
  ::SetTimer(camera.clock, 1, kTickMs, nullptr);

  bool all = true;
  const char* const modes[] = {"login-address", "login-server-list", "login-saved-addresses"};
  for (int mode = 0; mode < 3; ++mode) all &= camera.Take(modes[mode], true, [mode] { ShowLogin(mode); });
  all &= camera.Take("change-expiring", true, [] { ShowChange(10); });
  all &= camera.Take("change-expired", true, [] { ShowChange(0); });

  for (int notice = 1; notice <= 13; ++notice) {
    char name[32];
    std::snprintf(name, sizeof name, "notice-%02d", notice);
    all &= camera.Take(name, false, [notice] { vantiro::ShowFailureNotice(static_cast<vantiro::FailureNotice>(notice)); });
  }
  PrepareRegistry(0);
  all &= camera.Take("login-help-not-supported", false, [] {
    vantiro::TInputPasswordForm dialog;
    dialog.btnTellMeClick();
  });
  all &= camera.Take("login-exit", false, [] {
    vantiro::TInputPasswordForm dialog;
    dialog.Button2Click();
  });
  const struct {
    const char* name;
    const vantiro::ExpiryBox* box;
    std::string text;
  } boxes[] = {{"expiry-network", &vantiro::kNetworkBox, ""},
               {"expiry-not-configured", &vantiro::kNotConfiguredBox, ""},
               {"change-locked", &vantiro::kLockBox, ""},
               {"change-wrong-current", &vantiro::kWrongCurrentBox, ""},
               {"change-mismatch", &vantiro::kMismatchBox, ""},
               {"change-length", &vantiro::kWrongLengthBox, ""},
               {"change-reused", &vantiro::kReusedBox, ""},
               {"change-too-simple", &vantiro::kTooSimpleBox, ""},
               {"change-stays-offline", &vantiro::kStaysOfflineBox, ""},
               {"change-not-qualified-valid", &vantiro::kNotQualifiedBox, vantiro::NotQualifiedText(true)},
               {"change-not-qualified-expired", &vantiro::kNotQualifiedBox, vantiro::NotQualifiedText(false)}};
  for (const auto& box : boxes) all &= camera.Take(box.name, false, [&box] { vantiro::ShowExpiryBox(*box.box, box.text); });
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kPluginData);
  return all ? 0 : 1;
}
