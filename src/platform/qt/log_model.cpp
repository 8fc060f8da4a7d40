// The log list's model: lines appended in batches, laid out when there is time.
#include "platform/qt/log_model.h"

#include <QItemSelectionModel>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace vesk::qt {
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
  text_ += text;
  ends_.push_back(static_cast<std::uint32_t>(text_.size()));
  Schedule();
  return Count() - 1;
}

std::string LogModel::Line(int index) const {
  if (index < 0 || index >= Count()) return {};
  const auto i = static_cast<std::size_t>(index);
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  return text_.substr(begin, ends_[i] - begin);
}

void LogModel::DeleteFirst(int count) {
  count = std::min(count, Count());
  if (count <= 0) return;
  Flush();  // the view knows every line before some of them go
  const auto n = static_cast<std::size_t>(count);
  const std::uint32_t cut = ends_[n - 1];
  beginRemoveRows(QModelIndex(), 0, count - 1);
  text_.erase(0, cut);
  ends_.erase(ends_.begin(), ends_.begin() + static_cast<std::ptrdiff_t>(n));
  for (auto& end : ends_) end -= cut;
  shown_ -= count;
  endRemoveRows();
  curSel_ = curSel_ >= count ? curSel_ - count : -1;
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
  const auto i = static_cast<std::size_t>(index.row());
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  return QString::fromUtf8(text_.data() + begin, static_cast<qsizetype>(ends_[i] - begin));
}

}  // namespace vesk::qt
