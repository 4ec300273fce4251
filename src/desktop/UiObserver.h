// A window's view of a table: change notices delivered on its thread.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <utility>

#include "desktop/UiHandler.h"
#include "store/ContentObserver.h"

namespace morvex::desktop {

// Runs `query` on the writer's thread at each committed change and hands
// its cursor to `onChange` on the window's thread; a notice whose turn comes
// after the window is gone is dropped (CUiHandler). A null query hands on
// no cursor: the window reads what it needs itself.
class UiObserver final : public store::CContentObserver {
 public:
  using QueryFn = std::function<std::unique_ptr<store::CSQLiteCursor>()>;
  using OnChangeFn = std::function<void(std::unique_ptr<store::CSQLiteCursor> cursor)>;

  UiObserver(platform::MessageLoop& loop, QWidget* window, QueryFn query, OnChangeFn onChange)
      : handler_(loop, window), query_(std::move(query)), onChange_(std::move(onChange)) {}

  std::unique_ptr<store::CSQLiteCursor> Query() override { return query_ ? query_() : nullptr; }
  void OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) override { onChange_(std::move(cursor)); }
  core::CHandler* GetHandler() override { return &handler_; }

 private:
  CUiHandler handler_;
  QueryFn query_;
  OnChangeFn onChange_;
};

}  // namespace morvex::desktop
