#pragma once

#include <string_view>

// Every text the program shows to the user, in one place.
namespace tess::text {

inline constexpr std::string_view socketsInitFailed = "Windows CE sockets initialization failed.";
inline constexpr std::string_view networkFailed = "The network is failed !!";
inline constexpr std::string_view noSupportDevice = "No support the device !!";
inline constexpr std::string_view messageError = "Get the message error!";
inline constexpr std::string_view tooManyUsers = "There are too many users";
inline constexpr std::string_view tooManyLogins = "Too many users login";
inline constexpr std::string_view mpeg4Only = "The Mpeg4 Only";
// A snapshot that could not be written; the folder and the reason follow.
inline constexpr std::string_view snapshotNotSaved = "The snapshot could not be saved:";
inline constexpr std::string_view deviceLimit = "The directory can't hold more than 31 entries!";
inline constexpr std::string_view rootNotDeletable = "Root folder can't be deleted!";
inline constexpr std::string_view confirmDelete = "Are you sure to delete the item?";
inline constexpr std::string_view quadLimit = "Can't Select more than four devices";
inline constexpr std::string_view bindFailed =
    "Bind the connection is failed,please close dialog and try again";
inline constexpr std::string_view broadcastFailed = "SendBroadCast is wrong";
inline constexpr std::string_view indexItemFailed = "Get the index item is failed";
// Our own: a request whose inserted values make it longer than a device takes.
inline constexpr std::string_view requestTooLong =
    "The request is too long: shorten the user name or password";

// Our own: the directory file could not be written when the program ended.
// Our own: the directory file exists but could not be read; it is never saved
// over, and the session's changes go beside it.
inline constexpr std::string_view directoryUnreadable =
    "The device list could not be read and is left as it is:";
inline constexpr std::string_view unsavedChangesGoTo = "The changes of this session are saved to:";
// Our own: the caption's addition while another viewer owns the folder.
inline constexpr std::string_view readOnlyCaption = " (read-only: the folder is in use)";
inline constexpr std::string_view directorySaveFailed =
    "The device list could not be saved; the changes of this session are lost:";

// Window captions and field texts.
inline constexpr std::string_view programName = "Tessarine";
inline constexpr std::string_view paneCaptions[4] = {"View1", "View2", "View3", "View4"};
inline constexpr std::string_view deviceEditorCaption = "Login";
inline constexpr std::string_view aboutCaption = "About";
inline constexpr std::string_view newFolderLabel = "New Folder";
inline constexpr std::string_view deviceMenu = "Device";
inline constexpr std::string_view newCommand = "New";
inline constexpr std::string_view multipleCommand = "Multiple";
inline constexpr std::string_view folderCommand = "Folder";
inline constexpr std::string_view editCommand = "Edit";
inline constexpr std::string_view deleteCommand = "Delete";
inline constexpr std::string_view aboutCommand = "About";
inline constexpr std::string_view searchCommand = "Search";
inline constexpr std::string_view searchCaption = "Search";
inline constexpr std::string_view deviceListCaption = "Device List";
inline constexpr std::string_view searchColumns[3] = {"IP", "PORT", "DEVICE"};
inline constexpr std::string_view labelCaption = "Label:";
inline constexpr std::string_view defaultDeviceLabel = "New Device";
inline constexpr std::string_view defaultUserName = "admin";
inline constexpr std::string_view defaultPassword = "velum";
inline constexpr std::string_view multiDeviceEditorCaption = "Multi-Device";
inline constexpr std::string_view defaultMultiDeviceLabel = "New Multi-Device";
inline constexpr std::string_view typeCaption = "Type:";
// Indexed by multiType.
inline constexpr std::string_view multiTypeItems[2] = {"Switch", "Quad"};
inline constexpr std::string_view displayTimeCaption = "Display Time:";
// Indexed by displayTimeIndex: (index + 1) x 5 seconds.
inline constexpr std::string_view displayTimeItems[12] = {
    "05   sec", "10   sec", "15   sec", "20   sec", "25   sec", "30   sec",
    "35   sec", "40   sec", "45   sec", "50   sec", "55   sec", "60   sec"};
// Our own: the device editor's prompts for a value it refuses.
inline constexpr std::string_view textTooLong31 = "Enter no more than 31 characters.";
inline constexpr std::string_view textTooLong15 = "Enter no more than 15 characters.";
inline constexpr std::string_view portOutOfRange = "Enter a whole number from 0 to 65535.";

}  // namespace tess::text
