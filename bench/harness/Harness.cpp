// The in-process flood harness: the real TMainForm (offscreen by default)
// connects to the flood server on 127.0.0.1:<port>, takes the scenario, and
// once the driver has written the expectation file (after the closing PONG,
// while the connection is still open: a closed connection empties the nick
// lists) checks what the windows hold against it: the channel list's rows, each
// channel's nick list entries and each conversation window's messages.
//
//   zorv_bench_harness <port> <expect.json> <settings dir>
//
// A private message from a new sender held back by the window budget is found
// in the Server window ("*** Private from <nick>: <line>"). With
// ZORV_BENCH_UNBUDGETED=1 in the environment the clock the budget reads moves
// on a second per reading, so every sender gets a window (to measure opening
// windows by the thousand).
//
// Prints one JSON object: {"ok": bool, "errors": [...], "kept_bytes": n, ...}
// and exits 0 when every check held, 1 when one failed, 2 on a time-out.
#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Channel.h"
#include "Childwin.h"
#include "Main.h"
#include "MessageBox.h"
#include "NickList.h"
#include "Text.h"

namespace {

std::string bytes(const QJsonValue& v) { return v.toString().toStdString(); }

TMDIChild* findWindow(TMainForm& form, const std::string& name) {
  for (TMDIChild* c : form.Children())
    if (zorv::equalsIgnoreAsciiCase(c->WindowName(), name)) return c;
  return nullptr;
}

// The main window; unbudgeted, its clock moves on a second at every reading.
class BenchForm : public TMainForm {
 public:
  BenchForm(const QString& dir, bool unbudgeted) : TMainForm(dir), unbudgeted_(unbudgeted) {}
  int TimeOfDayMs() const override {
    if (!unbudgeted_) return TMainForm::TimeOfDayMs();
    fakeMs_ = (fakeMs_ + 1000) % 86400000;
    return fakeMs_;
  }

 private:
  bool unbudgeted_;
  mutable int fakeMs_ = 0;
};

struct Checker {
  explicit Checker(TMainForm& f) : form(f) {}
  TMainForm& form;
  QJsonArray errors;
  void fail(const std::string& what) {
    if (errors.size() < 20) errors.append(QString::fromStdString(what));
  }

  void channels(const QJsonArray& rows) {
    TChannelForm* list = form.channelList;
    if (list->RowCount() != rows.size())
      fail("channel list has " + std::to_string(list->RowCount()) + " rows, sent " +
           std::to_string(rows.size()));
    const int shown = list->grid->model()->rowCount();
    if (shown != list->RowCount())
      fail("channel grid view shows " + std::to_string(shown) + " rows of " + std::to_string(list->RowCount()));
    const int n = std::min(list->RowCount(), static_cast<int>(rows.size()));
    for (int i = 0; i < n; ++i)
      if (list->Cell(0, i) != bytes(rows[i])) {
        fail("channel list row " + std::to_string(i) + " is " + list->Cell(0, i) + ", sent " + bytes(rows[i]));
        break;
      }
  }

  void nicks(const std::string& channel, const QJsonArray& expected) {
    TMDIChild* c = findWindow(form, channel);
    if (!c) return fail("no window " + channel);
    std::vector<std::string> want;
    for (const auto& v : expected) want.push_back(bytes(v));
    std::vector<std::string> have = c->Nicks().entries();
    if (!std::is_sorted(have.begin(), have.end(),
                        [](const std::string& a, const std::string& b) { return NickList::compare(a, b) < 0; }))
      fail(channel + ": nick list out of order");
    if (c->NickModel()->rowCount() != static_cast<int>(have.size()))
      fail(channel + ": nick list view shows " + std::to_string(c->NickModel()->rowCount()) + " of " +
           std::to_string(have.size()));
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    if (have != want)
      fail(channel + ": nick list has " + std::to_string(have.size()) + " entries, expected " +
           std::to_string(want.size()) + (have.size() == want.size() ? " (different names)" : ""));
  }

  // Messages held back into the Server window, by sender: count and last.
  std::map<std::string, std::pair<int, std::string>> held;
  // A window in the background keeps its last 300 lines: in a long wave the
  // first held-back lines have scrolled out of a full Server window.
  bool serverFull = false;
  int scrolledOut = 0;

  void collectHeld() {
    TMDIChild* server = findWindow(form, "Server");
    if (!server) return;
    serverFull = server->textPane->lineCount() >= 300;
    const std::string head = "*** Private from ";
    for (int i = 0; i < server->textPane->lineCount(); ++i) {
      const std::string& line = server->textPane->line(i);
      if (line.compare(0, head.size(), head) != 0) continue;
      const size_t colon = line.find(": ", head.size());
      if (colon == std::string::npos) continue;
      auto& h = held[zorv::upperAscii(line.substr(head.size(), colon - head.size()))];
      ++h.first;
      h.second = line.substr(colon + 2);
    }
  }

  void window(const std::string& name, const QJsonObject& spec) {
    TMDIChild* c = findWindow(form, name);
    const auto h = held.find(zorv::upperAscii(name));
    int messages = h == held.end() ? 0 : h->second.first;
    std::string last = h == held.end() ? std::string() : h->second.second;
    if (!c && messages == 0) {
      if (serverFull) {
        ++scrolledOut;
        return;
      }
      return fail("no window " + name);
    }
    for (int i = 0; c && i < c->textPane->lineCount(); ++i) {
      const std::string& line = c->textPane->line(i);
      if (!line.empty() && line.front() == '<') {
        ++messages;
        last = line;
      }
    }
    // The window keeps its last ScrollbackLines lines; of a longer flood only
    // those can be there.
    int want = spec.value("messages").toInt();
    if (const int bound = form.ScrollbackLines(); bound > 0) want = std::min(want, bound);
    // Held back into a full Server window, the sender's first lines may have
    // scrolled out of it (its log keeps them): fewer is right then, the last must be there.
    const bool heldOnly = !c && h != held.end() && serverFull;
    if (heldOnly ? messages > want : messages != want)
      fail(name + ": " + std::to_string(messages) + " messages, sent " + std::to_string(want));
    if (last != bytes(spec.value("last"))) fail(name + ": last message is \"" + last + "\"");
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: zorv_bench_harness <port> <expect.json> <settings dir>\n");
    return 2;
  }
  const QString port = QString::fromLocal8Bit(argv[1]);
  const QString expectFile = QString::fromLocal8Bit(argv[2]);
  zorv::setMessagePresenter([](const QString& text, const QString&, zorv::MessageIcon) {
    std::fprintf(stderr, "message box: %s\n", text.toLocal8Bit().constData());
  });

  BenchForm form(QString::fromLocal8Bit(argv[3]), qEnvironmentVariableIntValue("ZORV_BENCH_UNBUDGETED") == 1);
  form.show();
  form.nickField->setText("benchnick");
  form.serverField->setText("127.0.0.1");
  form.portField->setText(port);
  int exitCode = 2;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    // The driver writes the expectation file once the flood has been answered.
    if (!QFile::exists(expectFile)) return;
    poll.stop();
    QApplication::processEvents();

    QFile f(expectFile);
    QJsonObject expect;
    if (f.open(QIODevice::ReadOnly)) expect = QJsonDocument::fromJson(f.readAll()).object();
    Checker check(form);
    if (expect.isEmpty()) check.fail("no expectation file " + expectFile.toStdString());
    if (expect.contains("channels")) check.channels(expect.value("channels").toArray());
    const QJsonObject nicks = expect.value("nicks").toObject();
    for (auto it = nicks.begin(); it != nicks.end(); ++it) check.nicks(it.key().toStdString(), it->toArray());
    const QJsonObject windows = expect.value("windows").toObject();
    check.collectHeld();
    for (auto it = windows.begin(); it != windows.end(); ++it)
      check.window(it.key().toStdString(), it->toObject());

    // Bytes of text the program keeps: pane lines, nick list entries, channel list cells.
    long long kept = 0;
    int windowsOpen = 0;
    for (TMDIChild* c : form.Children()) {
      ++windowsOpen;
      for (int i = 0; i < c->textPane->lineCount(); ++i) kept += static_cast<long long>(c->textPane->line(i).size());
      for (const std::string& e : c->Nicks().entries()) kept += static_cast<long long>(e.size());
    }
    for (int r = 0; r < form.channelList->RowCount(); ++r)
      for (int col = 0; col < 3; ++col) kept += static_cast<long long>(form.channelList->Cell(col, r).size());

    QJsonObject out{{"ok", check.errors.isEmpty()},
                    {"errors", check.errors},
                    {"kept_bytes", kept},
                    {"windows", windowsOpen},
                    {"held_scrolled_out", check.scrolledOut}};
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    exitCode = check.errors.isEmpty() ? 0 : 1;
    QApplication::quit();
  });
  poll.start(20);
  QTimer::singleShot(0, &form, [&] { form.OnConnectClicked(); });
  QTimer::singleShot(600000, &app, [&] {
    std::fprintf(stderr, "harness: time-out\n");
    QApplication::quit();
  });
  QApplication::exec();
  return exitCode;
}
