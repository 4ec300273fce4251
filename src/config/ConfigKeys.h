#pragma once

#include <cstdint>

namespace morvex::config {

// The names of the Config table's rows and the ports a device uses until it
// is told otherwise: shared by the service, which owns the table, and the
// command-line client, which reads it without the service's libraries. The
// names are stored in every database, so they never change.
namespace keys {
inline constexpr const char* kDeviceName = "DeviceName";
inline constexpr const char* kDeviceUuid = "DeviceUuid";
inline constexpr const char* kRoutePort = "RoutePort";
inline constexpr const char* kPubPort = "PubPort";
inline constexpr const char* kBroadcastPort = "BroadcastPort";
inline constexpr const char* kSyncInterval = "SyncInterval";
inline constexpr const char* kFeedBack = "FeedBack";
inline constexpr const char* kFirstTime = "FirstTime";
inline constexpr const char* kToken = "Token";
inline constexpr const char* kPublicKey = "PublicKey";
inline constexpr const char* kPrivateKey = "PrivateKey";
}  // namespace keys

inline constexpr uint16_t kDefaultRoutePort = 9527;
inline constexpr uint16_t kDefaultPubPort = 9526;
inline constexpr uint16_t kDefaultBroadcastPort = 8848;

}  // namespace morvex::config
