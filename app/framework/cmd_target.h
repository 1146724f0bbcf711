// Command routing in the framework's manner: a command id travels from the active view to
// its document, the child frame, the main frame and the application; the first target that
// knows the id handles it. Update works the same way: a target that knows the id decides
// whether it is enabled, checked or renamed. An id that nobody knows stays disabled.
#pragma once

#include <QString>

#include <optional>

namespace orvax::framework {

struct CCmdUI {
  explicit CCmdUI(int id) : m_nID(id) {}
  int m_nID;
  bool enabled = false;
  bool checked = false;
  bool checkSet = false;  // the target decided the check mark
  std::optional<QString> text;
  bool handled = false;

  void Enable(bool on = true) { enabled = on, handled = true; }
  void SetCheck(bool on = true) { checked = on, checkSet = true, handled = true; }
  void SetText(const QString& t) { text = t, handled = true; }
};

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;
  // Runs command ID; false when this target does not know it.
  virtual bool OnCommand(int id) { return false; }
  // Fills UI for its id; false when this target does not know it.
  virtual bool OnUpdateCommand(CCmdUI& ui) { return false; }
};

}  // namespace orvax::framework
