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
inline constexpr std::string_view deviceLimit = "Device number can't be larger than 256!";
inline constexpr std::string_view rootNotDeletable = "Root folder can't be deleted!";
inline constexpr std::string_view confirmDelete = "Are you sure to delete the item?";
inline constexpr std::string_view bindFailed =
    "Bind the connection is failed,please close dialog and try again";
inline constexpr std::string_view broadcastFailed = "SendBroadCast is wrong";
// Our own: a request whose inserted values make it longer than a device takes.
inline constexpr std::string_view requestTooLong =
    "The request is too long: shorten the user name or password";

}  // namespace tess::text
