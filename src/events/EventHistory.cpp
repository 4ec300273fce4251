#include "events/EventHistory.h"

#include "core/BroadcastService.h"
#include "core/Text.h"
#include "store/ContentResolver.h"

namespace morvex::events {

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

namespace {

struct Kind {
  int code;
  std::string_view name;
  const char* words;  // translated where shown
};

constexpr Kind kKinds[] = {
    {core::BM_CONFLICT_COPY, "conflict-copy", core::TrNoop("conflict copy made")},
    {core::BM_INVALID_NAME, "invalid-name", core::TrNoop("name not valid here, skipped")},
    {core::BM_DELETE_APPLIED, "deletions-applied", core::TrNoop("deletions applied")},
    {core::BM_TRUST_REQUEST, "trust-request", core::TrNoop("trust requested")},
    {core::BM_TRUSTED_KEY_MISMATCH, "key-refused", core::TrNoop("trusted device's key refused")},
    {core::BM_PASS_FAILED, "pass-failed", core::TrNoop("pass ended with failures")},
    {core::BM_OTHER_PASSWORD, "other-password", core::TrNoop("a device with another sync password")},
};

const Kind* FindKind(int code) {
  for (const Kind& kind : kKinds) {
    if (kind.code == code) return &kind;
  }
  return nullptr;
}

}  // namespace

bool AppendEvent(const EventRow& row) {
  store::CContentValues values;
  values.PutInt64("time", row.time).PutInt("kind", row.kind).PutString("device_uuid", row.deviceUuid).PutString(
      "text", row.text);
  auto& resolver = CContentResolver::Instance();
  const int64_t id = resolver.Insert(uris::Event(), values, store::kConflictNone);
  if (id <= 0) return false;
  // Ids only grow (AUTOINCREMENT), so the newest kHistoryLimit rows are
  // exactly those above this bound.
  if (id > kHistoryLimit) resolver.Delete(uris::Event(), CSelection("id <= ? ").AddInt64(id - kHistoryLimit));
  return true;
}

std::vector<EventRow> EventsAfter(int64_t afterId) {
  std::vector<EventRow> events;
  auto rows = CContentResolver::Instance().Query(uris::Event(), {"id", "time", "kind", "device_uuid", "text"},
                                                 CSelection("id > ? ").AddInt64(afterId), "id ASC");
  while (rows && rows->MoveToNext()) {
    events.push_back({rows->GetInt64("id"), rows->GetInt64("time"), rows->GetInt("kind"),
                      std::string(rows->GetString("device_uuid")), std::string(rows->GetString("text"))});
  }
  return events;
}

std::string_view KindName(int kind) {
  const Kind* found = FindKind(kind);
  return found ? found->name : "unknown";
}

const char* KindWords(int kind) {
  const Kind* found = FindKind(kind);
  return found ? found->words : "unknown";
}

}  // namespace morvex::events
