#pragma once
// The open conversation windows of the frame and their sections on the
// switcher bar: found by name, written to, created, focused, closed and
// retitled. A window's name is read from its caption (LeftStr) and compared
// ignoring the case of ASCII letters.
//
// Every line that arrives is routed by name, and a flood can open thousands of
// windows, so nothing here walks all windows or all sections per line or per
// new window: windows and sections are kept in indexes by upper-cased name,
// updated when a window comes, goes or is retitled. Only closing a window
// rebuilds the bar (its sections move up).
#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "WindowBudget.h"

class ChildHost;
class HeaderBar;
class QMdiArea;
class QMdiSubWindow;
class TMDIChild;

class WindowRegistry {
 public:
  // area holds the windows, bar is the switcher bar, scratch the bar used while
  // the switcher bar is rebuilt; clock gives the time of day in milliseconds.
  WindowRegistry(QMdiArea* area, HeaderBar* bar, HeaderBar* scratch, ChildHost& host,
                 std::function<int()> clock);

  // --- Lookup ------------------------------------------------------------------
  // Open windows whose name equals `name` (compared whole), in creation order.
  std::vector<TMDIChild*> Matching(const std::string& name) const;
  // Open windows in creation order; the channel windows alone.
  std::vector<TMDIChild*> Children() const;
  std::vector<TMDIChild*> ChannelWindows() const;
  bool AnyOpen() const;
  TMDIChild* ActiveChild() const;

  // --- Output ------------------------------------------------------------------
  // Writes `text` into every window named `name` (CR and LF removed from the
  // name first); with `create`, a window is opened when none matches. A new
  // private window the network asks for beyond the window budget is not
  // opened: the line goes to the Server window instead.
  void AddText(const std::string& name, const std::string& text, bool create);
  // Shows and fronts every window named `name`, or opens one (the user asked).
  void NewChild(const std::string& name);
  void ChildFocus(const std::string& name);
  void CloseChild(const std::string& name);

  // --- Captions and sections -------------------------------------------------------
  void SetTopic(const std::string& name, const std::string& text, bool wholeCaption);
  // A private partner's new nick: the windows and sections named oldNick.
  void RenamePrivate(const std::string& oldNick, const std::string& newNick);
  void RemoveSelectBar(const std::string& name);
  void SectionClick(int index);
  void EvenSectionWidths();
  // The section of the active window is drawn as active.
  void MarkActiveSection();
  // The sections of windows named `name` show (or no longer show) an unread mention.
  void SetMention(const std::string& name, bool on);

  // Whether the first window of a run opens maximized.
  std::function<bool()> FirstChildMaximized;

 private:
  enum class Placement { Front, Behind };
  struct Entry {
    std::string key;  // upper-cased name
    std::uint64_t seq = 0;
    bool channel = false;
  };

  TMDIChild* CreateChild(const std::string& name, bool channelMenu, Placement placement);
  QMdiSubWindow* NewSubWindow(TMDIChild* child);
  void ShowBehind(QMdiSubWindow* sub);
  Placement PlacementForNetwork() const;
  bool MayOpenPrivate(const std::string& name, const std::string& text);
  void AddSection(const std::string& text);
  void SetSectionText(int index, const std::string& text);
  // Calls fn with the index of every section whose name equals `name`.
  void ForEachSection(const std::string& name, const std::function<void(int)>& fn);
  void RebuildSectionIndex();
  void Retitle(TMDIChild* child, const std::string& caption);
  void Remember(TMDIChild* child);
  void Forget(const TMDIChild* child);
  void BringToFront(TMDIChild* child);
  QRect NextChildGeometry() const;

  QMdiArea* area_;
  HeaderBar* bar_;
  HeaderBar* scratch_;
  ChildHost& host_;
  std::function<int()> clock_;
  // Context of the connections to the windows: they end with the registry.
  QObject context_;
  WindowBudget budget_;
  bool holdingBack_ = false;

  std::uint64_t nextSeq_ = 0;
  std::unordered_map<const TMDIChild*, Entry> entries_;
  std::map<std::uint64_t, TMDIChild*> order_;     // all windows, creation order
  std::map<std::uint64_t, TMDIChild*> channels_;  // channel windows, creation order
  std::unordered_map<std::string, std::vector<TMDIChild*>> byName_;  // creation order
  std::unordered_map<std::string, std::vector<int>> sectionsByName_;  // ascending
};
