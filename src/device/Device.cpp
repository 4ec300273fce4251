#include "device/Device.h"

#include <glog/logging.h>

#include "core/StringPrintf.h"
#include "protocol/SslUtils.h"
#include "store/ContentResolver.h"

namespace morvex::device {

namespace ssl = protocol::ssl;

using store::CContentResolver;
using store::CContentValues;
using store::CSelection;
namespace uris = store::uris;

std::string NetworkKeyToPem(const std::string& der) {
  if (der.empty()) return {};
  std::string pem = ssl::DerToPemPublic(der);
  if (pem.empty()) LOG(WARNING) << "Failed to convert RKF_DER to RKF_PEM";
  return pem;
}

namespace {

std::unique_ptr<store::CSQLiteCursor> QueryRows(const CSelection& selection) {
  return CContentResolver::Instance().Query(
      uris::Device(), {"id", "uuid", "name", "type", "route_uri", "pub_uri", "trust", "class", "pubkey", "online"},
      selection);
}

CDevice FromRow(const store::CSQLiteCursor& row) {
  CDevice device;
  device.id = row.GetInt("id");
  device.uuid = row.GetString("uuid");
  device.name = row.GetString("name");
  device.type = row.GetInt("type");
  device.routeUri = row.GetString("route_uri");
  device.pubUri = row.GetString("pub_uri");
  device.trust = row.GetInt("trust");
  device.deviceClass = row.GetInt("class");
  device.pubkey = row.GetString("pubkey");
  device.online = row.GetInt("online");
  return device;
}

}  // namespace

bool CDevice::Load(const CSelection& selection) {
  auto row = QueryRows(selection);
  if (!row || !row->MoveToNext()) return false;
  *this = FromRow(*row);
  return true;
}

std::vector<CDevice> CDevice::LoadAll() {
  std::vector<CDevice> devices;
  auto rows = QueryRows(CSelection());
  while (rows && rows->MoveToNext()) devices.push_back(FromRow(*rows));
  return devices;
}

bool CDevice::LoadById(int32_t rowId) { return Load(CSelection::FromClause("id =  ?").AddInt(rowId)); }
bool CDevice::LoadByUuid(const std::string& deviceUuid) {
  return Load(CSelection::FromClause("uuid =  ?").AddString(deviceUuid));
}

CDevice CDevice::FromDiscover(const qo::MsgDiscoverWin& discover) {
  const qo::MsgDiscover& inner = discover.discover();
  CDevice device;
  device.uuid = inner.device_uuid();
  device.name = inner.device_name();
  device.type = inner.device_type();
  device.routeUri = core::StringPrintf("tcp://%s:%d", discover.src_host().c_str(), inner.route_port());
  device.pubUri = core::StringPrintf("tcp://%s:%d", discover.src_host().c_str(), inner.pub_port());
  device.pubkey = NetworkKeyToPem(inner.public_key());
  device.trust = 0;
  device.deviceClass = qo::DEVICE_DYNAMIC;
  device.online = 1;
  return device;
}

bool CDevice::MergeDiscover(const qo::MsgDiscoverWin& discover) {
  const CDevice fresh = FromDiscover(discover);
  const auto take = [this](auto& field, const auto& value, uint32_t bit) {
    if (field != value) {
      field = value;
      dirty |= bit;
    }
  };
  take(uuid, fresh.uuid, kDirtyUuid);
  take(name, fresh.name, kDirtyName);
  take(type, fresh.type, kDirtyType);
  take(routeUri, fresh.routeUri, kDirtyRouteUri);
  take(pubUri, fresh.pubUri, kDirtyPubUri);
  if (trust == 0) take(pubkey, fresh.pubkey, kDirtyPubkey);
  take(online, 1, kDirtyOnline);
  return dirty != 0;
}

bool CDevice::HasKey(const std::string& der) const { return !pubkey.empty() && ssl::PemToDerPublic(pubkey) == der; }

bool CDevice::Save() {
  store::COperationList batch;
  auto& update = batch.NewUpdate(uris::Device(), CSelection("id = ? ").AddInt(id));
  CContentValues& values = *update.GetValues();
  if (dirty & kDirtyUuid) values.PutString("uuid", uuid);
  if (dirty & kDirtyName) values.PutString("name", name);
  if (dirty & kDirtyType) values.PutInt("type", type);
  if (dirty & kDirtyRouteUri) values.PutString("route_uri", routeUri);
  if (dirty & kDirtyPubUri) values.PutString("pub_uri", pubUri);
  if (dirty & kDirtyPubkey) values.PutString("pubkey", pubkey);
  if (dirty & kDirtyTrust) values.PutInt("trust", trust);
  if (dirty & kDirtyClass) values.PutInt("class", deviceClass);
  if (dirty & kDirtyOnline) values.PutInt("online", online);
  if (values.Empty()) return true;
  return CContentResolver::Instance().ApplyBatch(store::kAuthority, batch) > 0;
}

bool CDevice::Insert() {
  if (trust == 0) TrimUntrustedDevices(kMaxUntrustedDevices - 1);
  CContentValues values;
  values.PutString("uuid", uuid)
      .PutString("name", name)
      .PutInt("type", type)
      .PutString("route_uri", routeUri)
      .PutString("pub_uri", pubUri)
      .PutInt("trust", trust)
      .PutString("pubkey", pubkey)
      .PutInt("class", deviceClass)
      .PutInt("online", online);
  const int64_t rowId = CContentResolver::Instance().Insert(uris::Device(), values, store::kConflictNone);
  if (rowId > 0) id = static_cast<int32_t>(rowId);
  return true;
}

bool CDevice::ResetTtl() {
  CContentValues values;
  values.PutInt("ttl", 3);
  return CContentResolver::Instance().Update(uris::DeviceTTL(), values, CSelection("id = ? ").AddInt(id)) == 1;
}

bool CDevice::UpdateTrust(int32_t value) {
  CContentValues values;
  values.PutInt("trust", value);
  const bool changed =
      CContentResolver::Instance().Update(uris::Device(), values, CSelection("id = ? ").AddInt(id)) == 1;
  if (changed) trust = value;
  return changed;
}

bool CDevice::SetTrusted() { return UpdateTrust(1); }
bool CDevice::SetUntrusted() { return UpdateTrust(0); }

void ResetDevices(const std::string& ownUuid) {
  store::COperationList batch;
  batch.NewDelete(uris::Device(), CSelection("trust = ? ").AddInt(0));
  auto& offline = batch.NewUpdate(uris::Device(), CSelection("uuid != ? AND trust = ? ").AddString(ownUuid).AddInt(1));
  offline.GetValues()->PutInt("online", 0);
  CContentResolver::Instance().ApplyBatch(store::kAuthority, batch);
}

int64_t TrimUntrustedDevices(int keep) {
  // The ttl is set back to 3 by every datagram and counts down each minute:
  // the lower it is, the longer the device has been silent.
  return CContentResolver::Instance().Delete(
      uris::Device(), CSelection::FromClause("trust = 0 AND id NOT IN (SELECT Device.id FROM Device LEFT JOIN DeviceTTL "
                                             "ON DeviceTTL.id = Device.id WHERE Device.trust = 0 "
                                             "ORDER BY DeviceTTL.ttl DESC, Device.id DESC LIMIT ?)")
                          .AddInt(keep));
}

}  // namespace morvex::device
