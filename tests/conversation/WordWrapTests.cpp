// Word wrap in the text pane: what is painted, where the bottom is, which
// line a click finds; formatting painted in both wrap modes.
#include <gtest/gtest.h>

#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "Formatting.h"
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
  auto pane = shownPane(true);
  pane->appendLine(words(30));
  pane->flushLayout();
  const int wrapped = inkBands(*pane);
  EXPECT_GT(wrapped, 1);
  EXPECT_GT(pane->rowsOf(0), 1);
  EXPECT_FALSE(pane->horizontalScrollBar()->isVisible());
  pane->setWordWrap(false);
  EXPECT_EQ(inkBands(*pane), 1);
  pane->flushLayout();  // the widest painted line sets the horizontal range
  EXPECT_LE(pane->rowsOf(0), 1);
  EXPECT_GT(pane->horizontalScrollBar()->maximum(), 0);
  EXPECT_TRUE(pane->horizontalScrollBar()->isVisible());
  pane->setWordWrap(true);
  EXPECT_EQ(inkBands(*pane), wrapped);
  pane->resize(120, 150);  // a narrower pane needs more rows
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

// Pixels painted in a colour (each channel within 12 of it).
int pixelsOf(TextPane& pane, QRgb rgb) {
  pane.viewport()->repaint();
  const QImage image = pane.viewport()->grab().toImage();
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      n += std::abs(qRed(p) - qRed(rgb)) <= 12 && std::abs(qGreen(p) - qGreen(rgb)) <= 12 &&
           std::abs(qBlue(p) - qBlue(rgb)) <= 12;
    }
  return n;
}

// Colours, reverse, bold and the mention highlight are painted, with the
// codes hidden; a colour too faint on the pane's background is darkened.
TEST(WordWrap, CodesArePaintedAsColoursAndBoldInBothWrapModes) {
  const QRgb fadedYellow = zorv::fmt::readableOn(0xFFFF00, zorv::fmt::kChatBackground);
  const QRgb mention = 0xF0DC8C;
  const struct {
    const char* line;
    bool mention;
    const char* shown;
    QRgb fg, bg, absent;  // 0: not looked for
  } cases[] = {
      {"\x02\x03" "04,08Warn", false, "Warn", 0xFF0000, 0xFFFF00, 0},
      {"\x03" "08yellow", false, "yellow", fadedYellow, 0, 0xFFFF00},
      {"\x04" "FF8000,000080hex\x0F plain", false, "hex plain", 0xFF8000, 0x000080, 0},
      {"\x03" "04,08\x16rev", false, "rev", 0xFFFF00, 0xFF0000, 0},
      {"<ann>hi bob", true, "<ann>hi bob", 0x000000, mention, 0},
      {"no codes", false, "no codes", 0x000000, 0, mention},
  };
  for (const bool wrap : {true, false}) {
    auto pane = shownPane(wrap, 300, 100);
    QFont font = pane->font();
    font.setPixelSize(24);
    pane->setFont(font);
    for (const auto& c : cases) {
      pane->clear();
      pane->appendLine(c.line, -1, c.mention);
      pane->flushLayout();
      EXPECT_EQ(pane->shownText(0).toStdString(), c.shown);
      EXPECT_GT(pixelsOf(*pane, c.fg), 0) << c.shown << " wrap " << wrap;
      if (c.bg) {
        EXPECT_GT(pixelsOf(*pane, c.bg), 0) << c.shown << " wrap " << wrap;
      }
      if (c.absent) {
        EXPECT_EQ(pixelsOf(*pane, c.absent), 0) << c.shown << " wrap " << wrap;
      }
    }
    // Bold puts more ink down than the same text without it.
    int ink[2];
    for (const bool bold : {false, true}) {
      pane->clear();
      pane->appendLine(std::string(bold ? "\x02" : "") + "\x03" "02mmmm");
      ink[bold] = pixelsOf(*pane, 0x00007F);
    }
    EXPECT_GT(ink[1], ink[0] + ink[0] / 4) << "wrap " << wrap;
  }
}

}  // namespace
