// Word wrap in the text pane: what is painted, where the bottom is, which
// line a click finds, and what a flood costs.
#include <gtest/gtest.h>

#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "TestSupport.h"
#include "TextPane.h"

namespace {

// Rows of text painted: runs of pixel rows holding dark pixels. Lines of
// "x" have no ascenders or descenders, so rows of text never touch.
int inkBands(TextPane& pane, int* lastInkY = nullptr) {
  pane.viewport()->repaint();
  const QImage image = pane.viewport()->grab().toImage();
  int bands = 0;
  bool inBand = false;
  for (int y = 0; y < image.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < image.width() && !ink; ++x) ink = qGray(image.pixel(x, y)) < 96;
    if (ink && !inBand) ++bands;
    if (ink && lastInkY) *lastInkY = y;
    inBand = ink;
  }
  return bands;
}

std::string words(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += "xxxxx ";
  return s;
}

std::unique_ptr<TextPane> shownPane(bool wrap, int width = 200, int height = 150) {
  auto pane = std::make_unique<TextPane>();
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSize(9);
  pane->setFont(font);
  pane->setWordWrap(wrap);
  pane->resize(width, height);
  pane->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
  return pane;
}

TEST(WordWrap, ALongLineTakesRowsOnlyWhenWrapIsOn) {
  const struct {
    bool wrap;
    bool manyRows;
    bool horizontalRange;
  } cases[] = {{true, true, false}, {false, false, true}};
  for (const auto& c : cases) {
    auto pane = shownPane(c.wrap);
    pane->appendLine(words(30));
    pane->flushLayout();
    const int bands = inkBands(*pane);
    pane->flushLayout();  // the widest painted line sets the horizontal range
    EXPECT_EQ(bands > 1, c.manyRows) << c.wrap << " bands " << bands;
    EXPECT_EQ(pane->rowsOf(0) > 1, c.manyRows) << c.wrap;
    EXPECT_EQ(pane->horizontalScrollBar()->maximum() > 0, c.horizontalRange) << c.wrap;
    EXPECT_EQ(pane->horizontalScrollBar()->isVisible(), !c.wrap) << c.wrap;
  }
  // Switching wrap off and on again changes what is painted.
  auto pane = shownPane(true);
  pane->appendLine(words(30));
  const int wrapped = inkBands(*pane);
  pane->setWordWrap(false);
  EXPECT_EQ(inkBands(*pane), 1);
  pane->setWordWrap(true);
  EXPECT_EQ(inkBands(*pane), wrapped);
  // A narrower pane needs more rows.
  pane->resize(120, 150);
  pane->flushLayout();
  EXPECT_GT(inkBands(*pane), wrapped);
}

// At the bottom the last line is shown whole, and the view starts at the
// first line that still fits with all those after it.
TEST(WordWrap, TheBottomShowsTheLastLineWhole) {
  auto pane = shownPane(true, 200, 160);
  for (int i = 0; i < 60; ++i) pane->appendLine(words(1 + (i * 7) % 23));
  pane->flushLayout();
  ASSERT_TRUE(pane->followsBottom());
  const int page = pane->viewport()->height() / pane->fontMetrics().lineSpacing();
  int rows = 0;
  for (int i = pane->topLine(); i < pane->lineCount(); ++i) rows += pane->rowsOf(i);
  EXPECT_LE(rows, page);
  ASSERT_GT(pane->topLine(), 0);
  EXPECT_GT(rows + pane->rowsOf(pane->topLine() - 1), page);
  int lastInk = -1;
  inkBands(*pane, &lastInk);
  EXPECT_GE(lastInk, 0);
  EXPECT_LT(lastInk, pane->viewport()->height() - 1);
  EXPECT_EQ(pane->verticalScrollBar()->value(), pane->verticalScrollBar()->maximum());
}

TEST(WordWrap, AClickOnAWrappedRowSelectsItsLine) {
  auto pane = shownPane(true);
  pane->appendLine(words(30));
  pane->appendLine("xx");
  pane->appendLine("xx");
  pane->verticalScrollBar()->setValue(0);
  const int lh = pane->fontMetrics().lineSpacing();
  const int rows0 = pane->rowsOf(0);
  ASSERT_GE(rows0, 3);
  const struct {
    int y;
    int line;
  } cases[] = {{lh / 2, 0}, {(rows0 - 1) * lh + lh / 2, 0}, {rows0 * lh + lh / 2, 1}, {(rows0 + 1) * lh + 2, 2}};
  for (const auto& c : cases) {
    QTest::mousePress(pane->viewport(), Qt::LeftButton, {}, QPoint(5, c.y));
    EXPECT_EQ(pane->selectionFirst(), c.line) << c.y;
    EXPECT_EQ(pane->selectionLast(), c.line) << c.y;
  }
}

// A flood of lines that all need wrapping lays out about a screenful, not
// every line: ten times the lines cost no more layouts.
TEST(WordWrap, AFloodDoesNotWrapEveryLine) {
  auto layoutsFor = [](int lines) {
    auto pane = shownPane(true, 200, 400);
    for (int i = 0; i < lines; ++i) pane->appendLine(words(20) + std::to_string(i));
    testsupport::pumpFor(40);
    pane->flushLayout();
    pane->viewport()->repaint();
    EXPECT_GT(pane->topLine(), lines - 10);  // at the bottom, a few lines in view
    EXPECT_LT(pane->topLine(), lines - 1);
    return pane->wrapLayouts();
  };
  const long long small = layoutsFor(10000);
  const long long large = layoutsFor(100000);
  EXPECT_GT(small, 0);
  EXPECT_LE(large, small + small / 2) << small << " " << large;
  EXPECT_LT(large, 1000);
}

}  // namespace
