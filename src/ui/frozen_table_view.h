#pragma once

#include <QTableView>

namespace vadoset {

/// A table view whose first column stays in place while the others scroll
/// sideways: a second view of the same model and selection shows that
/// column over the first one's place. Sorting and resizing from either
/// header act on both.
class FrozenTableView final : public QTableView {
  Q_OBJECT

 public:
  explicit FrozenTableView(QWidget* parent = nullptr);

  void setModel(QAbstractItemModel* model) override;
  /// The view of the first column.
  QTableView* frozenView() const { return frozen_; }

  /// Scrolls to show `index`; a cell of the first column is always shown, so
  /// for it only the rows scroll.
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void updateGeometries() override;

 private:
  void placeFrozen();
  void hideOtherColumns();

  QTableView* frozen_ = nullptr;
};

}  // namespace vadoset
