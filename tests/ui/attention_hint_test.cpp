// The task bar's attention hint on a real X display. An offer that arrives while Brisk is
// in the background asks the window manager (here: the test, listening on the root window
// as a window manager does) to mark the prompt as demanding attention; while a Brisk
// window is active, nothing is asked.

#include <set>
#include <thread>

#include <QGuiApplication>
#include <QScopeGuard>
#include <QTest>

#include <xcb/xcb.h>

#include "ui/prompt_window.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

// A second connection to the display that hears what clients ask of the window manager:
// _NET_WM_STATE requests are client messages sent to the root window.
class WindowManagerEar {
 public:
  WindowManagerEar() : connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_)) return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root, XCB_CW_EVENT_MASK, &mask);
    state_ = atom("_NET_WM_STATE");
    demandsAttention_ = atom("_NET_WM_STATE_DEMANDS_ATTENTION");
  }
  ~WindowManagerEar() { xcb_disconnect(connection_); }
  WindowManagerEar(const WindowManagerEar&) = delete;
  WindowManagerEar& operator=(const WindowManagerEar&) = delete;

  bool connected() const { return !xcb_connection_has_error(connection_) && demandsAttention_; }

  // Another program's window takes the keyboard focus, as when the person turns to it.
  void focusAnotherWindow() {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    const xcb_window_t window = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 50, 50, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(connection_, window);
    // The server maps at once where no window manager intercepts the request.
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    xcb_flush(connection_);
  }

  // Whether `window` has asked to be marked as demanding attention, up to now.
  bool heardAttentionFor(xcb_window_t window) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        const uint32_t* data = message->data.data32;
        constexpr uint32_t kAdd = 1;
        if (message->type == state_ && data[0] == kAdd &&
            (data[1] == demandsAttention_ || data[2] == demandsAttention_)) {
          askedForAttention_.insert(message->window);
        }
      }
      free(event);
    }
    return askedForAttention_.count(window) > 0;
  }

 private:
  xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return found;
  }

  xcb_connection_t* connection_;
  xcb_atom_t state_ = XCB_ATOM_NONE;
  xcb_atom_t demandsAttention_ = XCB_ATOM_NONE;
  std::set<xcb_window_t> askedForAttention_;
};

const PromptRequest kOffer{"对方要发送文件给你，你要接收吗？", "a.txt\t10 bytes", {"接收", "拒绝"}};

}  // namespace

class AttentionHintTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { writeSettings(); }

  void anOfferInTheBackgroundAsksForAttentionAndNotOtherwise() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
      QSKIP("needs an X display (ctest runs this test under xvfb-run)");
    }
    WindowManagerEar ear;
    QVERIFY(ear.connected());
    Program program;
    program.window.start();
    QVERIFY(QTest::qWaitForWindowExposed(&program.window));

    // In front: the prompt opens without a hint.
    program.window.activateWindow();
    QTRY_VERIFY(program.window.isActiveWindow());
    PromptHandle first("a.txt\t10 bytes");
    std::jthread frontOffer([&] { program.frontend.showPrompt(first, kOffer); });
    const auto closeFirst = qScopeGuard([&] { first.close(); });
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    PromptWindow* inFront = openWindows<PromptWindow>().constFirst();
    QVERIFY(QTest::qWaitForWindowExposed(inFront));
    const WId inFrontId = inFront->winId();
    first.close();
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 0);

    // Behind another program's window: the prompt asks for attention.
    ear.focusAnotherWindow();
    QTRY_VERIFY(!QApplication::activeWindow());
    PromptHandle second("a.txt\t10 bytes");
    std::jthread backOffer([&] { program.frontend.showPrompt(second, kOffer); });
    const auto closeSecond = qScopeGuard([&] { second.close(); });
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    const WId behind = openWindows<PromptWindow>().constFirst()->winId();
    QTRY_VERIFY(ear.heardAttentionFor(behind));
    // The display delivers one client's requests in order: the first prompt's would be here.
    QVERIFY(!ear.heardAttentionFor(inFrontId));
    second.close();
    program.window.closeWithoutAsking();
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::AttentionHintTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "attention_hint_test.moc"
