#include "platform/x11/log_model.h"

#include <QItemSelectionModel>
#include <QTimer>

namespace vesk::x11 {

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
  if (scheduled_) return;
  scheduled_ = true;
  QTimer::singleShot(0, this, [this] { Flush(); });
}

void LogModel::Flush() {
  scheduled_ = false;
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
}

int LogModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_) return {};
  return QString::fromStdString(lines_[static_cast<std::size_t>(index.row())]);
}

}  // namespace vesk::x11
