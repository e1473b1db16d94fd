#include "ui/prompt_window.h"

#include <algorithm>

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/text_codec.h"
#include "ui/control_ids.h"
#include "ui/control_placement.h"
#include "ui/engine_text.h"
#include "ui/font_and_background.h"
#include "ui/outer_size.h"

namespace brisk {

namespace {

constexpr int kMaxLines = 30;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 25;

}  // namespace

PromptGeometry promptGeometry(const std::string& text, int buttonCount, int lineHeight) {
  const std::size_t bytes = toWire(text).size();
  const std::size_t breaks = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  const std::size_t lines = 1 + breaks;
  const std::size_t averageLine = bytes / lines;

  PromptGeometry geometry;
  // Very long lines are capped before the multiplication can overflow.
  geometry.width = static_cast<int>(
      std::clamp<std::size_t>(std::min<std::size_t>(averageLine, 1000) * 15 + 40, 400, 800));
  geometry.lines = static_cast<int>(std::min<std::size_t>(lines, kMaxLines));
  // What the text box needs beyond the 15-pixel lines the arithmetic counts, and a pixel to
  // spare: the text box counts its last line as shown only when there is room below it.
  const int extra =
      lineHeight > kPromptLineHeight ? geometry.lines * (lineHeight - kPromptLineHeight) + 1 : 0;
  geometry.height = geometry.lines * kPromptLineHeight + 140 + extra;
  const int w = geometry.width;
  geometry.messageLine = QRect(20, 20, w - 40, 25);
  geometry.textBox = QRect(20, 55, w - 30, geometry.lines * kPromptLineHeight + extra);

  const int n = std::clamp(buttonCount, 0, PromptWindow::kMaxButtons);
  if (n > 0) {
    const int gap = 40 / n;
    const int x0 = (w - n * kButtonWidth - (n - 1) * gap) / 2;
    const int y = (geometry.lines + 5) * kPromptLineHeight + extra;
    for (int i = 0; i < n; ++i) {
      geometry.buttons.emplace_back(x0 + i * (kButtonWidth + gap), y, kButtonWidth, kButtonHeight);
    }
  }
  return geometry;
}

PromptWindow::PromptWindow(const PromptRequest& request)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("传送文件消息"));
  setWindowTitle(QStringLiteral("传送文件消息"));
  setAttribute(Qt::WA_DeleteOnClose);
  applyFontAndBackground(this);

  const int buttonCount = static_cast<int>(
      std::min<std::size_t>(request.captions.size(), static_cast<std::size_t>(kMaxButtons)));
  // The box holds whole lines of the font the person's system actually gives the window.
  const PromptGeometry geometry =
      promptGeometry(request.text, buttonCount, fontMetrics().lineSpacing());

  auto* line = new QLabel(this);
  line->setTextFormat(Qt::PlainText);
  line->setText(fromEngineText(request.line));
  line->setGeometry(geometry.messageLine);
  line->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* text = new QPlainTextEdit(this);
  placeControl(text, kIdPromptText, geometry.textBox);
  nameControl(text, fromEngineText(request.line), QString());
  text->setReadOnly(true);
  text->setFrameShape(QFrame::NoFrame);
  // A scroll bar only where the text is longer than the box (more than 30 lines): in a
  // box of one line it would be squashed to nothing usable.
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  text->setTabChangesFocus(true);
  text->setPlainText(fromEngineText(request.text));
  showOnWindowBackground(text);
  // The whole text box is one visible line high for a one-line text: no inner margin.
  text->document()->setDocumentMargin(0);

  for (int i = 0; i < buttonCount; ++i) {
    auto* button = new QPushButton(QString::fromStdString(request.captions[i]), this);
    const int id = kIdFirstButton + i;
    placeControl(button, id, geometry.buttons[i]);
    // Enter presses the focused button. The text box has the focus first, so an Enter
    // meant for another window does not answer an offer that just appeared.
    button->setAutoDefault(true);
    connect(button, &QPushButton::clicked, this, [this, id] {
      Q_EMIT answered(id);
      finish();
    });
  }

  setOuterSize(this, QSize(geometry.width, geometry.height), true);
}

void PromptWindow::closeFromOutside() {
  finish();
}

void PromptWindow::press(int button) {
  if (auto* pressed = findChild<QPushButton*>(controlName(kIdFirstButton + button))) {
    pressed->click();
  }
}

void PromptWindow::finish() {
  closing_ = true;
  close();
}

void PromptWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace brisk
