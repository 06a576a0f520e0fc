// What the expiry check and the password change tell the user: each message box
// with its title, text and flags, and the reason lines of the change dialog. One
// place for them, so that the code that shows them and the screenshots of the
// documentation show the same boxes.
#pragma once

#include <string>

#include "qmos/message_box.h"

namespace vantiro {

class TChangePassword;

struct ExpiryBox {
  const char* title;  // nullptr: the application's title (a plain message)
  const char* text;
  unsigned flags;
};

inline constexpr const char* kChangeErrorTitle = "Quillmere Client Login:Failed to Validate Password";
inline constexpr unsigned kChangeErrorFlags = qmos::MB_OK | qmos::MB_ICONERROR;

// The expiry check's boxes.
inline constexpr ExpiryBox kNetworkBox{
    "Failed to Authenticate",
    "Due to network issue, your password cannot be verified.\nIt will remain offline. Please login "
    "again or restart \nyour Quillmere Client.",
    qmos::MB_OK};
inline constexpr ExpiryBox kNotConfiguredBox{
    "Failed to connect to Unified Messaging Server",
    "The Unified Messaging Server has reported that your mailbox is not configured yet.\nSorry you "
    "are not allowed to login according to your corporate security policy.\nPlease ring and setup "
    "your mailbox over phone, then restart the Quillmere Client.",
    qmos::MB_OK | qmos::MB_ICONERROR};

// The password change's boxes.
inline constexpr ExpiryBox kLockBox{
    "Password is being Locked", "You have reached the maximum allowed failed attempts.\nPlease restart your Client.",
    qmos::MB_OK};
inline constexpr ExpiryBox kWrongCurrentBox{
    kChangeErrorTitle, "Your current password entered is invalid, please try again.", kChangeErrorFlags};
inline constexpr ExpiryBox kMismatchBox{kChangeErrorTitle, "New password entered twice doesnt match", kChangeErrorFlags};
inline constexpr ExpiryBox kWrongLengthBox{kChangeErrorTitle, "Password must be 8 digits long.", kChangeErrorFlags};
inline constexpr ExpiryBox kReusedBox{
    kChangeErrorTitle, "The new password you entered has been previously used, please choose another one.",
    kChangeErrorFlags};
inline constexpr ExpiryBox kTooSimpleBox{
    nullptr,
    "The Password you entered is too simple or geometric patterns which is against the Corvane "
    "security policy. Please choose another one...",
    qmos::MB_OK};
inline constexpr ExpiryBox kStaysOfflineBox{
    nullptr, "Since your password has been expired and not changed, you will remain in offline mode.", qmos::MB_OK};
// Its text is a format: "You may want to" while the old password is still valid,
// else "Please".
inline constexpr ExpiryBox kNotQualifiedBox{
    kChangeErrorTitle,
    "Your new password has not been qualified according to the location standards, or there "
    "might be a network issue to connect to MC. %s close Quillmere Client, and call your Rirezer "
    "Uduzor System to change it, then restart the Quillmere Client.",
    kChangeErrorFlags};

// Shows box through the application object (text instead of its own when given).
void ShowExpiryBox(const ExpiryBox& box, const std::string& text = "");

// The not-qualified box's text for a password still valid or already expired.
std::string NotQualifiedText(bool stillValid);

// The change dialog's reason lines and reminder box for a profile and the days left
// (0 or less: expired).
void FillChangeReasons(TChangePassword& dialog, const std::string& profile, int days);

}  // namespace vantiro
