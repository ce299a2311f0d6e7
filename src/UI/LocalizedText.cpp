#include "UI/LocalizedText.h"

#include <array>
#include <utility>

namespace {

using Entry = std::pair<std::string_view, std::string_view>;

// Keys keep their historical spelling (STRIGN_IP_FORMAT_ERROR): the window layouts name them so.
constexpr std::array kTexts{
    Entry{"STRING_NEED_NETWORK", "Connect this computer and the TV to the same network"},
    Entry{"STRING_TITLEBAR_MAIN", "Pelkor"},
    Entry{"STRING_NO_CONNECTED", "Not connected"},
    Entry{"STRING_IP_CODE_TIP", "Enter the TV's IP address or casting code"},
    Entry{"STRIGN_IP_FORMAT_ERROR", "Enter an IPv4 address or a 6-character casting code"},
    Entry{"STRING_CANNOT_SEARCH_IP", "No TV answers at this address"},
    Entry{"STRING_CANNOT_SEARCH_CODE", "No TV answers to this casting code"},
    Entry{"STRING_CONNECT_FAIL", "Connection failed"},
    Entry{"STRING_CONNECT", "Connect"},
    Entry{"STRING_VERSION_LOW", "The TV's receiver is too old for this; please update it"},
    Entry{"STRING_TIP", "Tip"},
    Entry{"STRING_OK", "OK"},
    Entry{"STRING_CANCEL", "Cancel"},
    Entry{"The input cannot be empty!", "The input cannot be empty!"},
    Entry{"STRING_SCREEN_CODE", "Casting code"},
    Entry{"STRING_SCREEN_CODE_TITLE", "Enter the casting code shown on the TV"},
    Entry{"STRING_INPUT_ERROR", "The casting code is wrong"},
    Entry{"STRING_SCREEN_TEXT", "Cast the whole screen"},
    Entry{"STRING_WINDOW_TEXT", "Cast one window"},
    Entry{"STRING_MIRROR_TEXT", "Show the TV's screen"},
    Entry{"STRING_SCREEN_BTN", "Screen"},
    Entry{"STRING_WINDOW_BTN", "Window"},
    Entry{"STRING_MIRROR_BTN", "TV screen"},
    Entry{"STRING_CHOSE_CONTENT", "Choose what to cast"},
    Entry{"STRING_START", "Start"},
    Entry{"STRING_STOP", "Stop"},
    Entry{"STRING_STOP_SCREEN", "Stop casting before showing the TV's screen"},
    Entry{"STRING_STOP_TVMIRROR", "Stop showing the TV's screen before casting"},
    Entry{"STRING_RECEIVER_LOCK", "The TV has locked casting"},
    Entry{"STRING_EXIST_SCREEN", "Another sender is showing the TV's screen"},
    Entry{"STRING_ONLY_SPEAKER_SCREEN", "Only the speaker may show the TV's screen"},
    Entry{"STRING_ROZI_KNOW", "Got it"},
    Entry{"STRING_DEVICE_COUNT", "%ld devices"},
    Entry{"STRING_FILE_STATEMENT", "Statement"},
    Entry{"STRING_FILE_TITLE", "Files"},
    Entry{"STRING_FILE_SHARE_TIP", "Files are saved in Downloads/pelkor"},
    Entry{"STRING_FILE_SHARE_REJECT", "Reject"},
    Entry{"STRING_FILE_SHARE_AGREE", "Accept"},
    Entry{"STRING_SHOW_DETAILS", "Show details"},
    Entry{"STRING_USE_FILE_ERROR", "Files can be shared only while connected"},
    Entry{"STRING_CLOSE_TOAST", "The TV has received the files"},
    Entry{"STRING_QUIT", "Quit "},
    Entry{"STRING_DISCONNECT", "Disconnect"},
    Entry{"STRING_NO_DEVICE", "No TV found on this network"},
    Entry{"STRING_PERMISSIONS_MISSING",
          "This computer cannot cast yet: it needs an X11 session with XTest, a sound server with a capture "
          "source and the virtual sound devices. Once they are in place, start the application again."},
};

} // namespace

std::string LocalizedText::text(std::string_view key)
{
    for (const auto& [name, english] : kTexts) {
        if (name == key)
            return std::string(english);
    }
    return std::string(key);
}
