#include "platform/x11/log_model.h"

#include <QItemSelectionModel>
#include <QTimer>

#include <utility>
#include <vector>

namespace vesk::x11 {
namespace {

bool g_held = false;
std::vector<QPointer<LogModel>> g_waiting;

}  // namespace

void LogModel::HoldFlushes(bool hold) {
  g_held = hold;
  if (hold) return;
  std::vector<QPointer<LogModel>> waiting;
  waiting.swap(g_waiting);
  for (const QPointer<LogModel>& m : waiting) {
    if (m != nullptr) {
      m->waitingForRelease_ = false;
      m->Schedule();
    }
  }
}

LogModel::LogModel(QListView* view) : QAbstractListModel(view), view_(view) {}

int LogModel::Add(std::string text) {
  lines_.push_back(std::move(text));
  Schedule();
  return Count() - 1;
}

void LogModel::SetCurSel(int index) {
  curSel_ = index >= 0 && index < Count() ? index : -1;
  selectionDirty_ = true;
  Schedule();
}

void LogModel::Schedule() {
  if (g_held) {
    if (!std::exchange(waitingForRelease_, true)) g_waiting.emplace_back(this);
    return;
  }
  if (scheduled_) return;
  scheduled_ = true;
  QTimer::singleShot(0, this, [this] { Flush(); });
}

bool LogModel::Flush() {
  scheduled_ = false;
  const bool any = shown_ < Count() || selectionDirty_;
  if (shown_ < Count()) {
    beginInsertRows(QModelIndex(), shown_, Count() - 1);
    shown_ = Count();
    endInsertRows();
  }
  if (selectionDirty_ && view_ != nullptr) {
    selectionDirty_ = false;
    if (curSel_ < 0) {
      view_->selectionModel()->clearSelection();
    } else {
      const QModelIndex i = index(curSel_);
      view_->selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
      view_->scrollTo(i);
    }
  }
  return any;
}

int LogModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_) return {};
  return QString::fromStdString(lines_[static_cast<std::size_t>(index.row())]);
}

}  // namespace vesk::x11
