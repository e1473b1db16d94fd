#pragma once

#include <string>
#include <vector>

#include <QWidget>

#include "common/frontend.h"

namespace brisk {

// Where the parts of a prompt go, from its text and the number of its buttons. The width
// follows the average line length (in the bytes the text has on the wire, so a Chinese
// character counts twice) between 400 and 800 pixels; the height follows the number of
// lines, at most 30 of them shown at once. The text box is `lineHeight` pixels high per
// line (the layout was drawn for a 15-pixel line); a taller line grows the box, the window
// and the buttons' row by the difference (and one pixel), and everything else stays.
struct PromptGeometry {
  int width = 0;   // W, outer
  int lines = 0;   // L, after the cut to 30
  int height = 0;  // outer
  QRect messageLine;
  QRect textBox;
  std::vector<QRect> buttons;
};
inline constexpr int kPromptLineHeight = 15;
PromptGeometry promptGeometry(const std::string& text, int buttonCount,
                              int lineHeight = kPromptLineHeight);

// A prompt: a message line, the read-only text box 50 and up to four buttons 1001 to 1004.
// It has a caption only and closes through one of its buttons (answered() then carries the
// button's id) or from outside (closeFromOutside()); the window manager cannot close it.
// It deletes itself when closed.
class PromptWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxButtons = 4;

  explicit PromptWindow(const PromptRequest& request);

  // Closes the window without an answer.
  void closeFromOutside();
  // Presses the button at `button` (0 for the first caption), as a click on it does.
  void press(int button);

 Q_SIGNALS:
  void answered(int buttonId);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void finish();

  bool closing_ = false;
};

}  // namespace brisk
