// The bindings of the control kinds: which widget shows each kind, which of its signals go
// to which model call, and what of the model it shows.

#include "qt/render/ControlBinding.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "controls/CodesCombo.h"
#include "controls/ComboBox.h"
#include "controls/CommandButton.h"
#include "controls/Control.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/OfficerSelect.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "platform/ErrorTrap.h"
#include "qt/render/EditTarget.h"
#include "qt/render/ErrorMarkFrame.h"
#include "qt/render/GridTableModel.h"
#include "qt/render/GridView.h"
#include "qt/render/ModelLineEdit.h"
#include "qt/render/ModelTextEdit.h"
#include "qt/render/QtText.h"
#include "qt/render/ViewHost.h"

namespace fm::qt {

// ---------------------------------------------------------------- common

ControlBinding::ControlBinding(ViewHost& host, Control& control)
    : mHost(&host), mControl(&control) {}

ControlBinding::~ControlBinding() { delete mMark.data(); }

void ControlBinding::Sync(bool force) {
  if (!force && mSynced && mVersion == mControl->Version() && !ContentStale()) {
    // The widget may still have moved in a frame that was laid out anew.
    if (mMark) mMark->Follow(mMarked);
    return;
  }
  mVersion = mControl->Version();
  SyncContent();
  SyncCommon();
  mSynced = true;
}

QWidget* ControlBinding::ErrorMark() const { return mMark.data(); }

void ControlBinding::WidgetReplaced() {
  mSynced = false;
  delete mMark.data();
}

TwipSize ControlBinding::FittingSize() const { return {}; }

void ControlBinding::ApplyFont(bool bold, double scale) {
  QWidget* widget = Widget();
  QFont font = QApplication::font(widget);
  font.setBold(bold);
  if (scale != 1.0) font.setPointSizeF(font.pointSizeF() * scale);
  widget->setFont(font);
}

void ControlBinding::SyncCommon() {
  QWidget* widget = Widget();
  if (widget == nullptr) return;
  const Control& c = *mControl;

  const QRect geometry(Pixels(c.Left()), Pixels(c.Top()), Pixels(c.Width()), Pixels(c.Height()));
  if (!mSynced || geometry != mGeometry) {
    widget->setGeometry(geometry);
    mGeometry = geometry;
  }
  if (!mSynced || c.Visible() != mVisible) {
    widget->setVisible(c.Visible());
    mVisible = c.Visible();
  }
  if (!mSynced || c.Enabled() != mEnabled) {
    widget->setEnabled(c.Enabled());
    mEnabled = c.Enabled();
  }
  if (!mSynced || c.FontBold() != mBold || c.FontScale() != mFontScale) {
    ApplyFont(c.FontBold(), c.FontScale());
    mBold = c.FontBold();
    mFontScale = c.FontScale();
  }

  const bool marked = c.ErrorMark();
  const std::string errorText = marked ? mHost->ErrorTextFor(c) : std::string();
  if (marked && mMark == nullptr) mMark = new ErrorMarkFrame(*widget);
  if (mMark) mMark->Follow(marked);
  if (!mSynced || marked != mMarked || errorText != mErrorText) {
    widget->setToolTip(ToQString(errorText));
    widget->setAccessibleDescription(ToQString(errorText));
    mMarked = marked;
    mErrorText = errorText;
  }
}

namespace {

constexpr int kCaptionIndent = 4;

TwipSize TwipsOf(const QSize& pixels) { return {Twips(pixels.width()), Twips(pixels.height())}; }

// Disconnects, when the binding goes, what it connected (the widgets may outlive it for a
// moment while the view is torn down).
class Connections {
 public:
  Connections() = default;
  Connections(const Connections&) = delete;
  Connections& operator=(const Connections&) = delete;
  ~Connections() {
    for (auto& connection : mConnections) QObject::disconnect(connection);
  }
  void Add(QMetaObject::Connection connection) { mConnections.push_back(std::move(connection)); }

 private:
  std::vector<QMetaObject::Connection> mConnections;
};

// Enter on a widget that has no use for it presses the form's default button, as Enter in
// a text box does: a clerk who picked a form type runs the search from the list.
class EnterPressesDefault final : public QObject {
 public:
  EnterPressesDefault(QWidget& widget, ViewHost& host, Control& control)
      : QObject(&widget), mHost(host), mControl(control) {
    widget.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    bool pressed = false;
    Form& form = mHost.GetForm();
    mHost.Forward(mControl, "Enter", [&] { pressed = form.PressDefaultButton(); });
    return pressed;
  }

 private:
  ViewHost& mHost;
  Control& mControl;
};

EditContext MakeEditContext(ViewHost& host, Control& control) {
  EditContext context;
  context.forward = [&host, &control](const char* what, const std::function<void()>& action) {
    host.Forward(control, what, action);
  };
  Form& form = host.GetForm();
  context.pressDefault = [&form] { return form.PressDefaultButton(); };
  context.pressCancel = [&form] { return form.PressCancelButton(); };
  return context;
}

// ---------------------------------------------------------------- kinds

// Controls that draw nothing at run time: the data controls and the resizer.
class InvisibleBinding final : public ControlBinding {
 public:
  using ControlBinding::ControlBinding;
  QWidget* Widget() const override { return nullptr; }

 protected:
  void SyncContent() override {}
};

class TextBoxBinding final : public ControlBinding {
 public:
  TextBoxBinding(ViewHost& host, TextBox& box) : ControlBinding(host, box), mBox(box) { Build(); }
  QWidget* Widget() const override { return mWidget; }
  // One line of text; how wide the box is, is the screen's choice.
  TwipSize FittingSize() const override {
    if (mMultiLine) return {};
    return {0, Twips(mWidget->minimumSizeHint().height())};
  }

 protected:
  void SyncContent() override {
    if (mBox.MultiLine() != mMultiLine) Build();
    mEdit->ShowModel();
  }

 private:
  void Build() {
    QWidget* old = mWidget;
    mMultiLine = mBox.MultiLine();
    QWidget& container = Host().ContainerFor(mBox);
    if (mMultiLine) {
      auto* edit =
          new ModelTextEdit(MakeEditTarget(mBox), MakeEditContext(Host(), mBox), &container);
      mWidget = edit;
      mEdit = edit;
    } else {
      auto* edit =
          new ModelLineEdit(MakeEditTarget(mBox), MakeEditContext(Host(), mBox), &container);
      mWidget = edit;
      mEdit = edit;
    }
    mWidget->setObjectName(ToQString(mBox.Name()));
    Host().WatchFocus(*mWidget, mBox);
    if (old != nullptr) {
      // Later: the old widget may be the one whose key event is being handled.
      old->hide();
      old->deleteLater();
      WidgetReplaced();
    }
  }

  TextBox& mBox;
  bool mMultiLine = false;
  QWidget* mWidget = nullptr;
  EditForwarding* mEdit = nullptr;
};

class LabelBinding final : public ControlBinding {
 public:
  LabelBinding(ViewHost& host, Label& label)
      : ControlBinding(host, label), mLabel(label), mWidget(new QLabel(&host.ContainerFor(label))) {
    mWidget->setObjectName(ToQString(label.Name()));
    mWidget->setTextFormat(Qt::PlainText);
    mWidget->setWordWrap(true);
  }
  QWidget* Widget() const override { return mWidget; }
  // The caption on one line. A word-wrapping label's size hint is a guess at a pleasing
  // shape, so the caption is measured instead.
  TwipSize FittingSize() const override {
    const QFontMetrics metrics = mWidget->fontMetrics();
    const QMargins margins = mWidget->contentsMargins();
    const int frame = 2 * (mWidget->frameWidth() + mWidget->margin());
    // One pixel more than the advance: the advance is rounded, the glyphs are not.
    const int width = metrics.horizontalAdvance(mWidget->text()) + 1 + frame + margins.left() +
                      margins.right() + std::max(0, mWidget->indent());
    const int height = metrics.height() + frame + margins.top() + margins.bottom();
    return TwipsOf({width, height});
  }

 protected:
  void SyncContent() override {
    const QString caption = ToQString(mLabel.Caption());
    if (mWidget->text() != caption) mWidget->setText(caption);
    // A label one line high stands beside a box: its caption is centred on the box's text.
    const bool oneLine = Pixels(mLabel.Height()) < 2 * mWidget->fontMetrics().lineSpacing();
    Qt::Alignment alignment = oneLine ? Qt::AlignVCenter : Qt::AlignTop;
    switch (mLabel.GetAlignment()) {
      case Label::Alignment::Left:
        alignment |= Qt::AlignLeft;
        break;
      case Label::Alignment::Right:
        alignment |= Qt::AlignRight;
        break;
      case Label::Alignment::Center:
        alignment |= Qt::AlignHCenter;
        break;
    }
    if (mWidget->alignment() != alignment) mWidget->setAlignment(alignment);
    // A caption set flush right against the box it names keeps a few pixels from it.
    const int indent = mLabel.GetAlignment() == Label::Alignment::Right ? kCaptionIndent : 0;
    if (mWidget->indent() != indent) mWidget->setIndent(indent);
  }

 private:
  Label& mLabel;
  QLabel* mWidget;
};

class FrameBinding final : public ControlBinding {
 public:
  FrameBinding(ViewHost& host, Frame& frame)
      : ControlBinding(host, frame),
        mFrame(frame),
        mWidget(new QGroupBox(&host.ContainerFor(frame))) {
    mWidget->setObjectName(ToQString(frame.Name()));
  }
  QWidget* Widget() const override { return mWidget; }
  QWidget* ChildContainer() const override { return mWidget; }

 protected:
  void SyncContent() override {
    // Without a border a frame shows neither its line nor its caption, only its controls.
    const bool bordered = mFrame.GetBorderStyle() == Frame::BorderStyle::FixedSingle;
    const QString title = bordered ? ToQString(mFrame.Caption()) : QString();
    if (mWidget->title() != title) mWidget->setTitle(title);
    if (bordered != mBordered || !mStyled) {
      mWidget->setFlat(!bordered);
      mWidget->setStyleSheet(bordered ? QString()
                                      : QStringLiteral("QGroupBox { border: none; margin: 0; }"));
      mBordered = bordered;
      mStyled = true;
    }
  }

 private:
  Frame& mFrame;
  QGroupBox* mWidget;
  bool mBordered = true;
  bool mStyled = false;
};

class OptionButtonBinding final : public ControlBinding {
 public:
  OptionButtonBinding(ViewHost& host, OptionButton& option)
      : ControlBinding(host, option),
        mOption(option),
        mWidget(new QRadioButton(&host.ContainerFor(option))) {
    mWidget->setObjectName(ToQString(option.Name()));
    // The model keeps its groups: the widget must not clear its neighbours by itself.
    mWidget->setAutoExclusive(false);
    mConnections.Add(QObject::connect(mWidget, &QRadioButton::clicked, mWidget, [this] {
      Host().Forward(mOption, "Click", [this] { mOption.Choose(); });
    }));
    host.WatchFocus(*mWidget, option);
  }
  QWidget* Widget() const override { return mWidget; }
  TwipSize FittingSize() const override { return TwipsOf(mWidget->sizeHint()); }

 protected:
  void SyncContent() override {
    const QString caption = ToQString(mOption.Caption());
    if (mWidget->text() != caption) mWidget->setText(caption);
    if (mWidget->isChecked() != mOption.Value()) {
      const QSignalBlocker blocker(mWidget);
      mWidget->setChecked(mOption.Value());
    }
  }
  bool ContentStale() const override { return mWidget->isChecked() != mOption.Value(); }

 private:
  OptionButton& mOption;
  QRadioButton* mWidget;
  Connections mConnections;
};

class CommandButtonBinding final : public ControlBinding {
 public:
  CommandButtonBinding(ViewHost& host, CommandButton& button)
      : ControlBinding(host, button),
        mButton(button),
        mWidget(new QPushButton(&host.ContainerFor(button))) {
    mWidget->setObjectName(ToQString(button.Name()));
    // Enter is the model's business (Form::PressDefaultButton), not the dialog's.
    mWidget->setAutoDefault(false);
    mConnections.Add(QObject::connect(mWidget, &QPushButton::clicked, mWidget, [this] {
      Host().Forward(mButton, "Click", [this] { mButton.PerformClick(); });
    }));
    host.WatchFocus(*mWidget, button);
  }
  QWidget* Widget() const override { return mWidget; }
  TwipSize FittingSize() const override { return TwipsOf(mWidget->sizeHint()); }

 protected:
  void SyncContent() override {
    const QString caption = ToQString(mButton.Caption());
    if (mWidget->text() != caption) mWidget->setText(caption);
    if (mWidget->isDefault() != mButton.IsDefault()) mWidget->setDefault(mButton.IsDefault());
  }

 private:
  CommandButton& mButton;
  QPushButton* mWidget;
  Connections mConnections;
};

QStringList ToQStringList(const std::vector<std::string>& items) {
  QStringList list;
  list.reserve(static_cast<qsizetype>(items.size()));
  for (const auto& item : items) list.push_back(ToQString(item));
  return list;
}

QStringList ItemsOf(const QComboBox& combo) {
  QStringList items;
  for (int i = 0; i < combo.count(); ++i) items.push_back(combo.itemText(i));
  return items;
}

class ComboBoxBinding final : public ControlBinding {
 public:
  ComboBoxBinding(ViewHost& host, ComboBox& combo)
      : ControlBinding(host, combo),
        mCombo(combo),
        mWidget(new QComboBox(&host.ContainerFor(combo))) {
    mWidget->setObjectName(ToQString(combo.Name()));
    mWidget->setEditable(true);
    mEdit = new ModelLineEdit(MakeEditTarget(combo), MakeEditContext(host, combo), mWidget);
    mWidget->setLineEdit(mEdit);
    // Completion and insertion would change the text behind the model's back.
    mWidget->setCompleter(nullptr);
    mWidget->setInsertPolicy(QComboBox::NoInsert);
    mConnections.Add(QObject::connect(mWidget, &QComboBox::activated, mWidget, [this](int index) {
      Host().Forward(mCombo, "Click", [this, index] { mCombo.ChooseItem(index); });
    }));
    host.WatchFocus(*mWidget, combo);
    host.WatchFocus(*mEdit, combo);
  }
  QWidget* Widget() const override { return mWidget; }
  TwipSize FittingSize() const override { return TwipsOf(mWidget->sizeHint()); }

 protected:
  void SyncContent() override {
    const QStringList items = ToQStringList(mCombo.Items());
    {
      const QSignalBlocker blocker(mWidget);
      if (ItemsOf(*mWidget) != items) {
        mWidget->clear();
        mWidget->addItems(items);
      }
      if (mWidget->currentIndex() != mCombo.ListIndex())
        mWidget->setCurrentIndex(mCombo.ListIndex());
    }
    // Switching the item may have put the item's text into the edit line.
    mEdit->ShowModel();
  }

 private:
  ComboBox& mCombo;
  QComboBox* mWidget;
  ModelLineEdit* mEdit;
  Connections mConnections;
};

class CodesComboBinding final : public ControlBinding {
 public:
  CodesComboBinding(ViewHost& host, CodesCombo& combo)
      : ControlBinding(host, combo),
        mCombo(combo),
        mWidget(new QComboBox(&host.ContainerFor(combo))) {
    mWidget->setObjectName(ToQString(combo.Name()));
    mWidget->setEditable(false);
    new EnterPressesDefault(*mWidget, host, combo);
    mConnections.Add(QObject::connect(mWidget, &QComboBox::activated, mWidget, [this](int index) {
      Host().Forward(mCombo, "Click", [this, index] { mCombo.ChooseEntry(index); });
    }));
    host.WatchFocus(*mWidget, combo);
  }
  QWidget* Widget() const override { return mWidget; }
  // Wide enough for the longest description.
  TwipSize FittingSize() const override { return TwipsOf(mWidget->sizeHint()); }

 protected:
  void SyncContent() override {
    QStringList descriptions;
    // The entries come from the local database on first use; a failure is reported and
    // the list stays empty until the next change of the combo.
    Trap("CodesCombo.Entries", [&] {
      for (const auto& entry : mCombo.Entries())
        descriptions.push_back(ToQString(entry.description));
    });
    const QSignalBlocker blocker(mWidget);
    if (ItemsOf(*mWidget) != descriptions) {
      mWidget->clear();
      mWidget->addItems(descriptions);
    }
    const int selected = mCombo.SelectedIndex() < mWidget->count() ? mCombo.SelectedIndex() : -1;
    if (mWidget->currentIndex() != selected) mWidget->setCurrentIndex(selected);
    // A text that is no entry (free text) shows where an entry would.
    const QString shown = selected < 0 ? ToQString(mCombo.Text()) : QString();
    if (mWidget->placeholderText() != shown) mWidget->setPlaceholderText(shown);
  }
  bool ContentStale() const override {
    const int selected = mCombo.SelectedIndex() < mWidget->count() ? mCombo.SelectedIndex() : -1;
    return mWidget->currentIndex() != selected;
  }

 private:
  CodesCombo& mCombo;
  QComboBox* mWidget;
  Connections mConnections;
};

class OfficerSelectBinding final : public ControlBinding {
 public:
  OfficerSelectBinding(ViewHost& host, OfficerSelect& picker)
      : ControlBinding(host, picker),
        mPicker(picker),
        mWidget(new QWidget(&host.ContainerFor(picker))),
        mFilter(new QLineEdit(mWidget)),
        mList(new QListWidget(mWidget)) {
    mWidget->setObjectName(ToQString(picker.Name()));
    auto* layout = new QVBoxLayout(mWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(mFilter);
    layout->addWidget(mList, 1);
    mFilter->setPlaceholderText(QObject::tr("Name or registry number"));
    mFilter->setClearButtonEnabled(true);
    mList->setUniformItemSizes(true);
    mConnections.Add(
        QObject::connect(mFilter, &QLineEdit::textEdited, mFilter, [this](const QString& text) {
          Host().Forward(mPicker, "Filter",
                         [this, text] { mPicker.SetFilterText(ToStdString(text)); });
        }));
    const auto choose = [this](QListWidgetItem* item) {
      const int row = mList->row(item);
      if (row < 0) return;
      Host().Forward(mPicker, "OfficerSelected", [this, row] { mPicker.Choose(row); });
    };
    mConnections.Add(QObject::connect(mList, &QListWidget::itemClicked, mList, choose));
    mConnections.Add(QObject::connect(mList, &QListWidget::itemActivated, mList, choose));
    mWidget->setFocusProxy(mFilter);
    host.WatchFocus(*mFilter, picker);
    host.WatchFocus(*mList, picker);
  }
  QWidget* Widget() const override { return mWidget; }
  QWidget* FocusWidget() const override { return mFilter; }

 protected:
  void SyncContent() override {
    const QString filter = ToQString(mPicker.FilterText());
    if (mFilter->text() != filter) mFilter->setText(filter);

    QStringList shown;
    int chosen = -1;
    for (int i = 0; i < mPicker.OfficerCount(); ++i) {
      const auto& officer = mPicker.OfficerAt(i);
      shown.push_back(ToQString(officer.DisplayText()));
      if (mPicker.HasChoice() && officer.registryNumber == mPicker.RegistryNumber()) chosen = i;
    }
    const QSignalBlocker blocker(mList);
    bool same = mList->count() == shown.size();
    for (int i = 0; same && i < mList->count(); ++i) same = mList->item(i)->text() == shown[i];
    if (!same) {
      mList->clear();
      mList->addItems(shown);
    }
    if (mList->currentRow() != chosen) mList->setCurrentRow(chosen);
  }

 private:
  OfficerSelect& mPicker;
  QWidget* mWidget;
  QLineEdit* mFilter;
  QListWidget* mList;
  Connections mConnections;
};

class DataGridBinding final : public ControlBinding {
 public:
  DataGridBinding(ViewHost& host, DataGrid& grid)
      : ControlBinding(host, grid),
        mGrid(grid),
        mWidget(new GridView(
            grid,
            [&host, &grid](const char* what, const std::function<void()>& action) {
              host.Forward(grid, what, action);
            },
            &host.ContainerFor(grid))) {
    mWidget->setObjectName(ToQString(grid.Name()));
    mWidget->setFocusProxy(&mWidget->Table());
    host.WatchFocus(mWidget->Table(), grid);
  }
  QWidget* Widget() const override { return mWidget; }
  QWidget* FocusWidget() const override { return &mWidget->Table(); }
  // The caption bar's caption, whole.
  TwipSize FittingSize() const override {
    return {Twips(mWidget->CaptionBar().sizeHint().width()), 0};
  }

 protected:
  void SyncContent() override {
    const bool look = Host().HasGridLook(mGrid);
    if (look != mLook) {
      mWidget->SetNormalAppearance(look);
      mLook = look;
    }
    mWidget->Sync();
  }
  // A record set that grew or shrank without a notice to the grid.
  bool ContentStale() const override {
    return (mGrid.Redraw() && mGrid.RowCount() != mWidget->Model().rowCount()) ||
           Host().HasGridLook(mGrid) != mLook;
  }
  // The grid's own font is what its caption bar uses; GridView draws that.
  void ApplyFont(bool /*bold*/, double scale) override { mWidget->SetFontScale(scale); }

 private:
  DataGrid& mGrid;
  GridView* mWidget;
  bool mLook = false;
};

}  // namespace

std::unique_ptr<ControlBinding> MakeBinding(ViewHost& host, Control& control) {
  switch (control.Kind()) {
    case ControlKind::TextBox:
      return std::make_unique<TextBoxBinding>(host, static_cast<TextBox&>(control));
    case ControlKind::Label:
      return std::make_unique<LabelBinding>(host, static_cast<Label&>(control));
    case ControlKind::Frame:
      return std::make_unique<FrameBinding>(host, static_cast<Frame&>(control));
    case ControlKind::OptionButton:
      return std::make_unique<OptionButtonBinding>(host, static_cast<OptionButton&>(control));
    case ControlKind::CommandButton:
      return std::make_unique<CommandButtonBinding>(host, static_cast<CommandButton&>(control));
    case ControlKind::ComboBox:
      return std::make_unique<ComboBoxBinding>(host, static_cast<ComboBox&>(control));
    case ControlKind::CodesCombo:
      return std::make_unique<CodesComboBinding>(host, static_cast<CodesCombo&>(control));
    case ControlKind::OfficerSelect:
      return std::make_unique<OfficerSelectBinding>(host, static_cast<OfficerSelect&>(control));
    case ControlKind::DataGrid:
      return std::make_unique<DataGridBinding>(host, static_cast<DataGrid&>(control));
    case ControlKind::DataControl:
    case ControlKind::Resizer:
      return std::make_unique<InvisibleBinding>(host, control);
  }
  return std::make_unique<InvisibleBinding>(host, control);
}

}  // namespace fm::qt
