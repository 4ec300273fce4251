#include "device/DeviceQueries.h"

#include "protocol/SslUtils.h"
#include "store/ContentResolver.h"

namespace morvex::device {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

std::string RouteUri(const std::string& uuid) {
  std::string route;
  CContentResolver::Instance().QueryString(uris::Device(), "route_uri", route, CSelection("uuid = ? ").AddString(uuid));
  return route;
}

bool IsOnline(const std::string& uuid) {
  return CContentResolver::Instance().QueryInt(uris::Device(), "online", 0, CSelection("uuid = ? ").AddString(uuid)) !=
         0;
}

bool DeviceName(const std::string& uuid, std::string& name) {
  return CContentResolver::Instance().QueryString(uris::Device(), "name", name, CSelection("uuid = ? ").AddString(uuid));
}

std::vector<OnlineDevice> OnlineDevices() {
  std::vector<OnlineDevice> devices;
  auto rows = CContentResolver::Instance().Query(uris::Device(), {"id", "pub_uri", "trust", "uuid"},
                                                 CSelection("online = ? ").AddInt(1));
  while (rows && rows->MoveToNext()) {
    devices.push_back({rows->GetInt("id"), std::string(rows->GetString("uuid")),
                       std::string(rows->GetString("pub_uri")), rows->GetInt("trust") != 0});
  }
  return devices;
}

std::vector<CDevice> TrustedOnlineDevices() {
  std::vector<int32_t> ids;
  auto rows = CContentResolver::Instance().Query(uris::Device(), {"id"},
                                                 CSelection("trust = ? AND online = ? ").AddInt(1).AddInt(1));
  while (rows && rows->MoveToNext()) ids.push_back(rows->GetInt("id"));
  rows.reset();
  std::vector<CDevice> devices;
  for (const int32_t id : ids) {
    CDevice device;
    if (device.LoadById(id)) devices.push_back(std::move(device));
  }
  return devices;
}

void MarkOffline(const std::string& uuid) {
  store::CContentValues values;
  values.PutInt("online", 0);
  CContentResolver::Instance().Update(uris::Device(), values, CSelection("uuid = ? ").AddString(uuid));
}

void MarkOnline(const std::string& uuid) {
  store::CContentValues values;
  values.PutInt("online", 1);
  CContentResolver::Instance().Update(uris::Device(), values,
                                      CSelection("uuid = ? AND online = ? ").AddString(uuid).AddInt(0));
}

void AgeDevices(const std::string& ownUuid) {
  store::COperationList batch;
  batch.NewUpdate(uris::DeviceTTL(), CSelection("ttl > 0")).GetValues()->PutExpression("ttl", "ttl-1");
  batch.NewDelete(uris::Device(), CSelection("trust = ? AND id IN (SELECT id FROM DeviceTTL WHERE ttl = 0)"))
      .GetSelection()
      ->AddInt(0);
  auto& offline = batch.NewUpdate(
      uris::Device(), CSelection("trust = ? AND uuid != ? AND id IN (SELECT id FROM DeviceTTL WHERE ttl = 0)"));
  offline.GetSelection()->AddInt(1).AddString(ownUuid);
  offline.GetValues()->PutInt("online", 0);
  CContentResolver::Instance().ApplyBatch(store::kAuthority, batch);
}

bool DeviceKnown(const std::string& uuid) {
  return CContentResolver::Instance().QueryInt(uris::Device(), "COUNT(*)", 0, CSelection("uuid = ? ").AddString(uuid)) >
         0;
}

bool AddUntrustedDevice(const qo::MsgDeviceAddRequest& add) {
  TrimUntrustedDevices(kMaxUntrustedDevices - 1);
  store::CContentValues row;
  row.PutString("uuid", add.uuid())
      .PutString("name", add.name())
      .PutInt("type", add.type())
      .PutString("route_uri", add.route_uri())
      .PutString("pub_uri", add.pub_uri())
      .PutInt("trust", 0)
      .PutInt("online", 1)
      .PutString("pubkey", NetworkKeyToPem(add.public_key()));
  return CContentResolver::Instance().Insert(uris::Device(), row, store::kConflictNone) > 0;
}

bool DeleteDevice(const std::string& uuid) {
  return CContentResolver::Instance().Delete(uris::Device(), CSelection("uuid = ? ").AddString(uuid)) == 1;
}

std::vector<std::string> UuidsStartingWith(const std::string& prefix) {
  std::vector<std::string> uuids;
  auto rows = CContentResolver::Instance().Query(uris::Device(), {"uuid"}, CSelection("uuid LIKE ? ").AddString(prefix + "%"));
  while (rows && rows->MoveToNext()) uuids.emplace_back(rows->GetString("uuid"));
  return uuids;
}

void ForgetOtherDevices(store::COperationList& batch, const std::string& ownUuid) {
  batch.NewDelete(uris::Device(), CSelection("uuid != ? ")).GetSelection()->AddString(ownUuid);
  batch.NewDelete(uris::DeviceTTL(), CSelection());
}

void DeleteAllDevices() {
  auto& resolver = CContentResolver::Instance();
  resolver.Delete(uris::Device(), CSelection());
  resolver.Delete(uris::DeviceTTL(), CSelection());
}

void InsertOwnDevice(const OwnDevice& own) {
  store::COperationList batch;
  batch.NewInsert(uris::Device(), store::kConflictIgnore)
      .GetValues()
      ->PutString("uuid", own.uuid)
      .PutString("name", own.name)
      .PutInt("type", qo::DEVICE_LINUX)
      .PutString("route_uri", own.routeUri)
      .PutString("pub_uri", own.pubUri)
      .PutInt("trust", 1)
      .PutString("pubkey", protocol::ssl::DerToPemPublic(own.publicKeyDer))
      .PutInt("class", qo::DEVICE_STATIC)
      .PutInt("online", 1);
  CContentResolver::Instance().ApplyBatch(store::kAuthority, batch);
}

void UpdateOwnDevice(const OwnDevice& own) {
  store::CContentValues row;
  row.PutString("name", own.name)
      .PutString("route_uri", own.routeUri)
      .PutString("uuid", own.uuid)
      .PutString("pub_uri", own.pubUri)
      .PutInt("trust", 1);
  CContentResolver::Instance().Update(uris::Device(), row, CSelection("uuid = ? ").AddString(own.uuid));
}

std::unique_ptr<store::CSQLiteCursor> QueryDeviceList() {
  return CContentResolver::Instance().Query(uris::Device(),
                                            {"id", "uuid", "name", "route_uri", "type", "trust", "online"},
                                            CSelection(), "online DESC, trust DESC, name ASC ");
}

std::vector<ListedDevice> ReadDeviceList(store::CSQLiteCursor* rows) {
  std::vector<ListedDevice> devices;
  while (rows && rows->MoveToNext()) {
    devices.push_back({rows->GetInt("id"), std::string(rows->GetString("uuid")), std::string(rows->GetString("name")),
                       std::string(rows->GetString("route_uri")), rows->GetInt("type"), rows->GetInt("trust") != 0,
                       rows->GetInt("online") != 0});
  }
  return devices;
}

void ObserveDevices(store::CContentObserver* observer) {
  CContentResolver::Instance().RegisterObserver(uris::Device(), false, observer);
}

void StopObservingDevices(store::CContentObserver* observer) {
  CContentResolver::Instance().UnregisterObserver(uris::Device(), observer);
}

}  // namespace morvex::device
