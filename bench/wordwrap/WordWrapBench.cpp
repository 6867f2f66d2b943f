// A flood of lines that all need wrapping into a shown text pane: the time
// taken and the lines laid out, for 10,000 and for 100,000 lines. Only about
// a screenful should be wrapped whatever the flood. Run by hand:
//   build/<dir>/bench/wordwrap/zorv_bench_wordwrap
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdio>
#include <string>

#include "TextPane.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::string words;
  for (int i = 0; i < 20; ++i) words += "xxxxx ";
  for (const int lines : {10000, 100000}) {
    TextPane pane;
    pane.setWordWrap(true);
    pane.resize(200, 400);
    pane.show();
    if (!QTest::qWaitForWindowExposed(&pane)) {
      std::fprintf(stderr, "the pane was never shown\n");
      return 1;
    }
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < lines; ++i) pane.appendLine(words + std::to_string(i));
    pane.flushLayout();
    pane.viewport()->repaint();
    std::printf("%d lines: %lld ms, %lld lines wrapped\n", lines, static_cast<long long>(t.elapsed()),
                pane.wrapLayouts());
  }
  return 0;
}
