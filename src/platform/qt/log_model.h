// The model behind the log list box. Lines arrive one by one, often
// thousands between two paints; the view hears of them in batches, at the
// next turn of the event loop (or when the window is repainted), so that
// 100,000 lines stay cheap. While playback runs, the turn of the event loop
// is not used: the playback driver flushes in its own slack time, so that
// layout and painting never delay a replayed record.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QPointer>

#include <cstdint>
#include <string>
#include <vector>

namespace vesk::qt {

class LogModel : public QAbstractListModel {
 public:
  explicit LogModel(QListView* view);

  // The index of the new line.
  int Add(std::string text);
  int Count() const { return static_cast<int>(ends_.size()); }
  std::string Line(int index) const;
  // Drops the count oldest lines.
  void DeleteFirst(int count);
  // Selects a line and scrolls to it; -1 (or out of range) clears the selection.
  void SetCurSel(int index);
  int CurSel() const { return curSel_; }
  // Tells the view everything now; true when it had something to tell.
  bool Flush();

  // While held, nothing is flushed by the event loop (only by Flush).
  static void HoldFlushes(bool hold);

  int rowCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  void Schedule();

  QPointer<QListView> view_;
  // All lines end to end, and where each one ends: a long recording logs
  // hundreds of thousands of short lines, and a string object per line
  // would cost more than the line itself.
  std::string text_;
  std::vector<std::uint32_t> ends_;
  int shown_ = 0;  // lines the view knows of
  int curSel_ = -1;
  bool selectionDirty_ = false;
  bool scheduled_ = false;
  bool waitingForRelease_ = false;
};

}  // namespace vesk::qt
