#include "Channel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <exception>

#include "ChannelGridModel.h"
#include "Guard.h"
#include "Text.h"

namespace {

constexpr int kClientWidth = 428;
constexpr int kClientHeight = 273;
constexpr int kPanelHeight = 24;
constexpr int kRowHeight = 20;
constexpr int kColumnWidths[zorv::ChannelGridModel::kColumns] = {92, 30, 288};

// The grid shows lines between columns only: Qt's own grid would draw the
// horizontal ones too, so each cell draws a one-pixel line along its right
// edge in the style's grid colour.
class VerticalLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const QWidget* w = option.widget;
    const QStyle* style = w ? w->style() : nullptr;
    QColor line = option.palette.color(QPalette::Mid);
    if (style) {
      const int hint = style->styleHint(QStyle::SH_Table_GridLineColor, &option, w);
      line = QColor::fromRgba(static_cast<QRgb>(hint));
    }
    painter->save();
    painter->setPen(line);
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->restore();
  }
};

// A line for the wire ends at the first CR, LF or NUL: a channel name from
// the server can never smuggle a second command into the JOIN line.
std::string OneLine(const std::string& s) {
  const auto end = s.find_first_of(std::string("\r\n\0", 3));
  return end == std::string::npos ? s : s.substr(0, end);
}

}  // namespace

TChannelForm::TChannelForm(std::function<void(const std::string&)> sendMsg, QWidget* parent)
    : QDialog(parent), sendMsg_(std::move(sendMsg)), model_(new zorv::ChannelGridModel(this)) {
  setObjectName("ChannelForm");
  setWindowTitle("Channel list");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(QFont("MS Sans Serif", 8));
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);

  grid = new QTableView(this);
  grid->setObjectName("StringGrid1");
  grid->setModel(model_);
  grid->setItemDelegate(new VerticalLineDelegate(grid));
  grid->setShowGrid(false);
  grid->setWordWrap(false);
  grid->setCornerButtonEnabled(false);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setTabKeyNavigation(false);
  grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  grid->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);

  QHeaderView* rows = grid->verticalHeader();
  rows->hide();
  rows->setMinimumSectionSize(1);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(kRowHeight);
  QHeaderView* cols = grid->horizontalHeader();
  cols->hide();
  cols->setStretchLastSection(false);
  cols->setMinimumSectionSize(1);
  cols->setSectionResizeMode(QHeaderView::Fixed);
  for (int c = 0; c < zorv::ChannelGridModel::kColumns; ++c)
    cols->resizeSection(c, kColumnWidths[c]);

  // Grey background, as the system's button face.
  QPalette pal = grid->palette();
  const QColor grey = palette().color(QPalette::Button);
  pal.setColor(QPalette::Base, grey);
  pal.setColor(QPalette::AlternateBase, grey);
  grid->setPalette(pal);

  buttonPanel = new QWidget(this);
  buttonPanel->setObjectName("Panel1");
  buttonPanel->setFixedHeight(kPanelHeight);
  joinButton = new QPushButton("&Join", buttonPanel);
  joinButton->setObjectName("Button1");
  joinButton->setDefault(true);
  refreshButton = new QPushButton("&Refresh", buttonPanel);
  refreshButton->setObjectName("Button2");
  auto* buttons = new QHBoxLayout(buttonPanel);
  buttons->setContentsMargins(2, 0, 2, 0);
  buttons->setSpacing(4);
  buttons->addStretch(1);
  buttons->addWidget(joinButton);
  buttons->addWidget(refreshButton);
  buttons->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(grid, 1);
  layout->addWidget(buttonPanel, 0);

  connect(joinButton, &QPushButton::clicked, this, [this] { Guarded([this] { OnJoinClicked(); }); });
  connect(refreshButton, &QPushButton::clicked, this, [this] { Guarded([this] { OnRefreshClicked(); }); });
  connect(grid, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex&) { Guarded([this] { OnGridDoubleClicked(); }); });
  connect(model_, &zorv::ChannelGridModel::flushed, this, &TChannelForm::KeepCurrentRow);

  KeepCurrentRow();
}

void TChannelForm::Guarded(const std::function<void()>& handler) { zorv::guarded(handler); }

void TChannelForm::SyncView() const { model_->flush(); }

// The grid always has one current row, shown selected: at start, and when
// the rows it stood on were cut off (the view then moves it up to the new
// last row, and the selection must follow).
void TChannelForm::KeepCurrentRow() {
  QItemSelectionModel* sel = grid->selectionModel();
  QModelIndex cur = sel->currentIndex();
  if (!cur.isValid()) cur = model_->index(0, 0);
  if (!sel->isRowSelected(cur.row(), QModelIndex()))
    sel->setCurrentIndex(cur, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// A new listing starts from an empty grid: row 0 is cleared too, so a short
// first reply cannot show the topic of a channel from an earlier listing.
void TChannelForm::ClearList() {
  SetRowCount(1);
  for (int c = 0; c < zorv::ChannelGridModel::kColumns; ++c) model_->setCell(c, 0, std::string());
}

void TChannelForm::ListStart() {
  ClearList();
  show();
  raise();
  activateWindow();
}

void TChannelForm::AddChannelRow(const std::string& p) {
  if (p.find(' ') == std::string::npos) return;
  const int last = model_->count() - 1;
  model_->setCell(0, last, std::string(zorv::upToBlank(p)));
  const std::string_view rest = zorv::afterBlank(p);
  if (rest.find(' ') != std::string_view::npos) {
    model_->setCell(1, last, std::string(zorv::upToBlank(rest)));
    std::string_view topic = zorv::afterBlank(rest);
    if (!topic.empty() && topic.front() == ':') topic.remove_prefix(1);
    model_->setCell(2, last, std::string(topic));
  } else if (!rest.empty()) {
    // Channel and user count but no topic: the count is still shown; only
    // the topic cell stays unwritten.
    model_->setCell(1, last, std::string(rest));
  }
  model_->setCount(last + 2);
  model_->setCell(0, last + 1, kPlaceholder);
}

void TChannelForm::ListEnd() { SetRowCount(RowCount() - 1); }

void TChannelForm::OpenList() {
  if (RowCount() == 1) {
    sendMsg_("LIST");
    return;
  }
  show();
  raise();
  activateWindow();
}

int TChannelForm::RowCount() const { return model_->count(); }

void TChannelForm::SetRowCount(int n) { model_->setCount(n); }

std::string TChannelForm::Cell(int col, int row) const { return model_->cell(col, row); }

int TChannelForm::CurrentRow() const {
  SyncView();
  const QModelIndex cur = grid->selectionModel()->currentIndex();
  return cur.isValid() ? cur.row() : 0;
}

void TChannelForm::JoinCurrent() {
  // CurrentRow() lets pending rows reach the view first, so the row is one
  // of the grid's rows as they stand now.
  const std::string channel = OneLine(Cell(0, CurrentRow()));
  sendMsg_("JOIN " + channel);
  hide();
}

void TChannelForm::OnJoinClicked() { JoinCurrent(); }

void TChannelForm::OnGridDoubleClicked() { JoinCurrent(); }

void TChannelForm::OnRefreshClicked() {
  ClearList();
  sendMsg_("LIST");
}
