#include "ui/frozen_table_view.h"

#include <QHeaderView>
#include <QScrollBar>

namespace vadoset {

FrozenTableView::FrozenTableView(QWidget* parent) : QTableView(parent) {
  frozen_ = new QTableView(this);
  frozen_->setObjectName(QStringLiteral("frozenColumn"));
  frozen_->setFocusPolicy(Qt::NoFocus);
  frozen_->verticalHeader()->hide();
  frozen_->setFrameShape(QFrame::NoFrame);
  frozen_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frozen_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frozen_->horizontalHeader()->setSortIndicatorShown(true);
  frozen_->horizontalHeader()->setSectionsClickable(true);
  viewport()->stackUnder(frozen_);

  // Both views scroll together, have the same row heights and the same
  // first column's width, and either header sorts.
  connect(verticalScrollBar(), &QAbstractSlider::valueChanged, frozen_->verticalScrollBar(),
          &QAbstractSlider::setValue);
  connect(frozen_->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(),
          &QAbstractSlider::setValue);
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
    if (section != 0) return;
    frozen_->setColumnWidth(0, size);
    placeFrozen();
  });
  connect(frozen_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
    if (section == 0 && columnWidth(0) != size) setColumnWidth(0, size);
  });
  connect(horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, [this](int section, Qt::SortOrder order) {
    QHeaderView* h = frozen_->horizontalHeader();
    const QSignalBlocker block(h);
    h->setSortIndicator(section, order);
  });
  connect(frozen_->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
          [this](int section, Qt::SortOrder order) { horizontalHeader()->setSortIndicator(section, order); });
}

void FrozenTableView::setModel(QAbstractItemModel* model) {
  QTableView::setModel(model);
  frozen_->setModel(model);
  frozen_->setSelectionModel(selectionModel());
  connect(model, &QAbstractItemModel::modelReset, this, &FrozenTableView::hideOtherColumns);
  connect(model, &QAbstractItemModel::columnsInserted, this, &FrozenTableView::hideOtherColumns);
  hideOtherColumns();
}

void FrozenTableView::hideOtherColumns() {
  QAbstractItemModel* m = model();
  if (m == nullptr) return;
  for (int c = 1; c < m->columnCount(); ++c) frozen_->setColumnHidden(c, true);
  frozen_->setColumnWidth(0, columnWidth(0));
  placeFrozen();
}

void FrozenTableView::placeFrozen() {
  // Over the first column's place, from the top of the header to the foot
  // of the rows, looking as the main view does.
  frozen_->setAlternatingRowColors(alternatingRowColors());
  frozen_->setWordWrap(wordWrap());
  frozen_->setSelectionBehavior(selectionBehavior());
  frozen_->setSelectionMode(selectionMode());
  frozen_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  frozen_->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
  frozen_->horizontalHeader()->setFixedHeight(horizontalHeader()->height());
  frozen_->setGeometry(verticalHeader()->width() + frameWidth(), frameWidth(), columnWidth(0),
                       viewport()->height() + horizontalHeader()->height());
  frozen_->setVisible(model() != nullptr && model()->columnCount() > 0);
}

void FrozenTableView::updateGeometries() {
  QTableView::updateGeometries();
  placeFrozen();
}

void FrozenTableView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  placeFrozen();
}

// Moving left to a cell hidden under the first column scrolls it out.
QModelIndex FrozenTableView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  const QModelIndex current = QTableView::moveCursor(action, modifiers);
  const int hiddenBy = columnWidth(0) - visualRect(current).left();
  if (current.column() > 0 && hiddenBy > 0) horizontalScrollBar()->setValue(horizontalScrollBar()->value() - hiddenBy);
  return current;
}

void FrozenTableView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (index.column() > 0) {
    QTableView::scrollTo(index, hint);
    // Not under the first column either.
    const int hiddenBy = columnWidth(0) - visualRect(index).left();
    if (hiddenBy > 0) horizontalScrollBar()->setValue(horizontalScrollBar()->value() - hiddenBy);
    return;
  }
  const int across = horizontalScrollBar()->value();
  QTableView::scrollTo(index, hint);
  horizontalScrollBar()->setValue(across);
}

}  // namespace vadoset
