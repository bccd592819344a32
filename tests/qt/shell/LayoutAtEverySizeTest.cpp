// The shell's layout at every window size a clerk may use, in each view mode, at 100 %, 150 %
// and 200 % scale: every control shown lies inside the window, no two overlap (a frame and
// what it holds excepted), and no caption or label is cut off or wrapped. A window smaller
// than the form's least size (960 x 540: a 1920 x 1080 screen at 200 %) scrolls the form.
//
// The scale of a Qt program is fixed when it starts (QT_SCALE_FACTOR), so CTest runs this
// program once per scale, each run picking its own scale's cases. The offscreen screen is
// 2560 x 1440 pixels (offscreen-2560x1440.json); window sizes are in Qt's device-independent
// pixels, and "maximised" is that screen's whole area at the scale in force.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <array>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "ShellTest.h"
#include "controls/Control.h"
#include "document/TARVO_FormsMaint.h"
#include "qt/render/FormView.h"
#include "qt/render/GridView.h"
#include "qt/shell/DesktopApp.h"
#include "qt/shell/ShellWindow.h"

namespace fm::qt {
namespace {

using testing::WaitUntil;

enum class Mode { FormsAssignment, NewForms, InactiveForms };
struct WindowSize {
  const char* name;
  int width;  // 0: maximised
  int height;
};
using LayoutCase = std::tuple<Mode, WindowSize, double>;

const char* ModeName(Mode mode) {
  return std::array{"FormsAssignment", "NewForms", "InactiveForms"}[static_cast<int>(mode)];
}

// The desktop's own style and font, as the program sets them.
void UseTheDesktopLook() {
  static const bool applied = [] {
    ApplyDesktopLook(testing::TestApplication());
    return true;
  }();
  (void)applied;
}

double ScaleInForce() {
  const QByteArray asked = qgetenv("QT_SCALE_FACTOR");
  return asked.isEmpty() ? 1.0 : asked.toDouble();
}

QRect InWindow(const QWidget& widget, const QWidget& window) {
  return {widget.mapTo(&window, QPoint(0, 0)), widget.size()};
}

std::string Describe(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) +
         "x" + std::to_string(r.height());
}

// What keeps a widget's text from showing whole on one line; empty when it fits.
std::string TextProblem(const QWidget& widget) {
  QString text;
  QRect room;
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
    text = label->text();
    room = label->contentsRect();
  } else if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
    text = button->text();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    const bool radio = qobject_cast<const QRadioButton*>(button) != nullptr;
    room = button->style()->subElementRect(
        radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option, button);
  } else {
    return {};
  }
  if (text.isEmpty()) return {};
  const QFontMetrics metrics = widget.fontMetrics();
  const int needed = metrics.horizontalAdvance(text);
  if (needed <= room.width() && metrics.height() <= room.height()) return {};
  return "\"" + text.toStdString() + "\" needs " + std::to_string(needed) + "x" +
         std::to_string(metrics.height()) + ", has " + std::to_string(room.width()) + "x" +
         std::to_string(room.height());
}

std::vector<std::string> LayoutProblems(ShellWindow& window) {
  std::vector<std::string> problems;
  FormView& view = *window.DocumentView();
  const QScrollArea& scroller = *window.DocumentArea();
  const QRect visible = InWindow(*scroller.viewport(), window);
  if (!window.rect().contains(visible)) {
    problems.push_back("the document's area " + Describe(visible) + " is not inside the window " +
                       Describe(window.rect()));
  }
  // The document fills its area, and what the area cannot show scrolls into it.
  const int wider = view.width() - scroller.viewport()->width();
  const int higher = view.height() - scroller.viewport()->height();
  if (wider < 0 || higher < 0) {
    problems.push_back("the document " + Describe(InWindow(view, window)) +
                       " does not fill its area " + Describe(visible));
  }
  if (scroller.horizontalScrollBar()->maximum() < wider ||
      scroller.verticalScrollBar()->maximum() < higher) {
    problems.push_back("the document " + Describe(InWindow(view, window)) +
                       " cannot be scrolled through its area " + Describe(visible));
  }
  const QRect area = InWindow(view, window);

  struct Shown {
    std::string name;
    QWidget* widget;
    QRect rect;
  };
  std::vector<Shown> shown;
  for (Control* control : window.Document()->Controls()) {
    QWidget* widget = view.WidgetFor(*control);
    if (widget == nullptr || !widget->isVisibleTo(&window)) continue;
    shown.push_back({control->Name(), widget, InWindow(*widget, window)});
  }
  for (const Shown& s : shown) {
    if (!area.contains(s.rect)) {
      problems.push_back(s.name + " " + Describe(s.rect) + " is not inside " + Describe(area));
    }
    if (const std::string text = TextProblem(*s.widget); !text.empty()) {
      problems.push_back(s.name + ": " + text);
    }
    if (auto* grid = dynamic_cast<GridView*>(s.widget)) {
      if (const std::string text = TextProblem(grid->CaptionBar()); !text.empty()) {
        problems.push_back(s.name + " caption bar: " + text);
      }
    }
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    for (std::size_t j = i + 1; j < shown.size(); ++j) {
      const Shown& a = shown[i];
      const Shown& b = shown[j];
      if (a.widget->isAncestorOf(b.widget) || b.widget->isAncestorOf(a.widget)) continue;
      if (a.rect.intersects(b.rect)) {
        problems.push_back(a.name + " " + Describe(a.rect) + " overlaps " + b.name + " " +
                           Describe(b.rect));
      }
    }
  }
  // The status bar's fields: the status text, what was found, the connection.
  for (QLabel* field : window.statusBar()->findChildren<QLabel*>()) {
    if (!field->isVisibleTo(&window)) continue;
    if (const std::string text = TextProblem(*field); !text.empty()) {
      problems.push_back("status bar " + field->objectName().toStdString() + ": " + text);
    }
    if (!window.rect().contains(InWindow(*field, window))) {
      problems.push_back("status bar " + field->objectName().toStdString() + " is not inside");
    }
  }
  return problems;
}

class LayoutAtEverySize : public testing::ShellTest,
                          public ::testing::WithParamInterface<LayoutCase> {
 protected:
  void SizeTheWindow(ShellWindow& window, const WindowSize& size) {
    // A maximised window's frame fills the screen's free area (to the pixel, which at
    // 150 % is a rounded one).
    const bool maximised = size.width == 0;
    const QSize wanted =
        maximised ? window.screen()->availableGeometry().size() : QSize(size.width, size.height);
    const auto reached = [&] {
      if (!maximised) return window.size() == wanted;
      const QSize frame = window.frameGeometry().size();
      return window.isMaximized() && std::abs(frame.width() - wanted.width()) <= 1 &&
             std::abs(frame.height() - wanted.height()) <= 1;
    };
    if (maximised) {
      window.showMaximized();
    } else {
      window.showNormal();
      window.resize(wanted);
    }
    ASSERT_TRUE(WaitUntil(reached, std::chrono::seconds(5)))
        << "the window is " << window.width() << "x" << window.height() << ", not "
        << wanted.width() << "x" << wanted.height();
    testing::ProcessEvents();
  }

  void PutTheModeOnScreen(Mode mode) {
    switch (mode) {
      case Mode::FormsAssignment:
        shell->Type("txtBox(0)", "a1");
        shell->ChooseFormType("ENF001 Citation");
        shell->SearchAndWait();
        break;
      case Mode::NewForms:
        // The quarterly type shows every entry of the mode.
        shell->Click("optButton(1)");
        shell->AddRange("b2", "CVSA Decals", "990001", "990100");
        shell->Type("txtBox(0)", "b2");
        shell->ChooseFormType("CVSA Decals");
        break;
      case Mode::InactiveForms:
        shell->Click("optButton(2)");
        shell->ChooseFormType("Receipts");
        shell->SearchAndWait();
        break;
    }
    testing::ProcessEvents();
  }
};

TEST_P(LayoutAtEverySize, EveryControlIsInsideApartAndShowsItsCaptionWhole) {
  const auto& [mode, size, scale] = GetParam();
  ASSERT_NEAR(ScaleInForce(), scale, 1e-9)
      << "this case needs QT_SCALE_FACTOR=" << scale << " (CTest sets it)";
  ASSERT_NEAR(testing::TestApplication().devicePixelRatio(), scale, 1e-9);

  UseTheDesktopLook();
  ShellWindow& window = Open().Window();

  // The mode put on screen at this size, so that the view-mode procedures move the
  // controls at this size too.
  SizeTheWindow(window, size);
  PutTheModeOnScreen(mode);
  const std::vector<std::string> problems = LayoutProblems(window);
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems, the first: " << problems.front();
}

std::string CaseName(const ::testing::TestParamInfo<LayoutCase>& info) {
  return std::string(ModeName(std::get<0>(info.param))) + "_" + std::get<1>(info.param).name +
         "_scale" + std::to_string(static_cast<int>(std::lround(std::get<2>(info.param) * 100)));
}

const WindowSize kSizes[] = {
    {"960x540", 960, 540},     {"1024x640", 1024, 640},   {"1280x800", 1280, 800},
    {"1366x768", 1366, 768},   {"1600x1000", 1600, 1000}, {"1920x1080", 1920, 1080},
    {"2560x1440", 2560, 1440}, {"maximised", 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Desktop, LayoutAtEverySize,
                         ::testing::Combine(::testing::Values(Mode::FormsAssignment, Mode::NewForms,
                                                              Mode::InactiveForms),
                                            ::testing::ValuesIn(kSizes),
                                            ::testing::Values(1.0, 1.5, 2.0)),
                         CaseName);

}  // namespace
}  // namespace fm::qt
